// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// How gpgv's reports are judged, and armoured keyrings decoded. The status lines are what gpgv
// 2.2 writes for each case; the end-to-end tests run the real gpgv on real signatures.
#include <gtest/gtest.h>

#include "kiv-test.h"
#include "signature-private.h"

namespace
{
const std::string good_lines = "[GNUPG:] NEWSIG good@example.org\n"
                               "[GNUPG:] GOODSIG 9513411593DF4C49 Good Publisher\n";

// A VALIDSIG line for a signature made at created with the given digest algorithm and class.
std::string validsig (gint64 created, int digest = 8, const char *signature_class = "00")
{
  return "[GNUPG:] VALIDSIG EF2A51B1BB68164AF52856809513411593DF4C49 2026-12-07 "
         + std::to_string (created) + " 0 4 0 22 " + std::to_string (digest) + " " + signature_class
         + " EF2A\n";
}
} // namespace

TEST (JudgeGpgvStatus, AcceptsOnlyAValidSignatureWithNothingAgainstIt)
{
  const struct
  {
    const char *what;
    std::string status;
    int exit_status;
    const char *reason; // empty: accepted
  } cases[] = {
    { "good", good_lines + validsig (100), 0, "" },
    { "SHA-512", validsig (100, 10), 0, "" },
    // gpgv exits with 0 for these two; only the status lines tell.
    { "expired key", "[GNUPG:] EXPKEYSIG 9513411593DF4C49 Old\n" + validsig (100), 0,
      "signed by key 9513411593DF4C49, which has expired" },
    { "revoked key", "[GNUPG:] REVKEYSIG 293E485B42FB7784 Gone\n" + validsig (100), 0,
      "signed by key 293E485B42FB7784, which has been revoked" },
    { "expired signature", "[GNUPG:] EXPSIG 9513411593DF4C49 Old\n" + validsig (100), 0,
      "the signature by key 9513411593DF4C49 has expired" },
    { "file changed", "[GNUPG:] BADSIG 9513411593DF4C49 Good Publisher\n", 1,
      "bad signature by key 9513411593DF4C49: the file is not what was signed" },
    // The missing key is the telling part, though ERRSIG comes first.
    { "unknown key",
      "[GNUPG:] ERRSIG 7C9FF487B61C5728 22 8 00 1796647223 9 0CF8\n"
      "[GNUPG:] NO_PUBKEY 7C9FF487B61C5728\n",
      2, "signed by key 7C9FF487B61C5728, which is not in the keyring" },
    { "unknown key, in the other order",
      "[GNUPG:] NO_PUBKEY 7C9FF487B61C5728\n"
      "[GNUPG:] ERRSIG 7C9FF487B61C5728 22 8 00 1796647223 9 0CF8\n",
      2, "signed by key 7C9FF487B61C5728, which is not in the keyring" },
    { "unsupported algorithm", "[GNUPG:] ERRSIG 7C9FF487B61C5728 99 8 00 1796647223 4\n", 2,
      "the signature by key 7C9FF487B61C5728 cannot be checked" },
    { "one good, one unknown",
      good_lines + validsig (100) + "[GNUPG:] NO_PUBKEY 7C9FF487B61C5728\n", 2,
      "signed by key 7C9FF487B61C5728, which is not in the keyring" },
    { "not a signature", "[GNUPG:] NODATA 1\n[GNUPG:] NODATA 2\n", 2,
      "no OpenPGP signature in the signature file" },
    { "signed message", "[GNUPG:] PLAINTEXT 62 0 f\n" + validsig (100), 0,
      "a signed message, not a detached signature" },
    { "MD5", validsig (100, 1), 0, "the signature uses the weak digest MD5" },
    { "SHA-1", validsig (100, 2), 0, "the signature uses the weak digest SHA-1" },
    { "unknown digest", validsig (100, 42), 0, "the signature uses the weak digest number 42" },
    { "MD5, then SHA-1", validsig (100, 1) + validsig (100, 2), 0,
      "the signature uses the weak digest MD5" },
    // The primary key's fingerprint is there only for a signature made by a subkey.
    { "no primary key",
      "[GNUPG:] VALIDSIG EF2A51B1BB68164AF52856809513411593DF4C49 2026-12-07 100 0 4 0 22 8 00\n",
      0, "" },
    // A good line is not enough without the exit status, nor the exit status without VALIDSIG.
    { "failed run", validsig (100), 2, "gpgv failed with exit status 2" },
    { "killed run", validsig (100), -1, "gpgv did not end normally" },
    { "no VALIDSIG", good_lines, 0, "gpgv found no valid signature" },
    { "nothing", "", 0, "gpgv found no valid signature" },
    { "status on stderr only", "gpgv: Good signature from \"Good Publisher\"\n", 0,
      "gpgv found no valid signature" },
    { "line not at the start", "x" + validsig (100), 0, "gpgv found no valid signature" },
    { "ISO time", "[GNUPG:] VALIDSIG EF2A 2026-12-07 20261207T124006 0 4 0 22 8 00 EF2A\n", 0,
      "gpgv wrote a VALIDSIG line that cannot be read" },
    { "short VALIDSIG", "[GNUPG:] VALIDSIG EF2A 2026-12-07 100 0 4 0 22 8\n", 0,
      "gpgv wrote a VALIDSIG line that cannot be read" },
    // A text-mode signature checks out for the file with its line ends changed.
    { "text mode", validsig (100, 8, "01"), 0,
      "a signature of class 01, made in text mode: only a binary signature vouches for the "
      "file's exact bytes" },
    { "binary and text mode", validsig (100) + validsig (100, 10, "01"), 0,
      "a signature of class 01, made in text mode: only a binary signature vouches for the "
      "file's exact bytes" },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.what);
      const auto verdict = judge_gpgv_status (c.status, c.exit_status);
      EXPECT_EQ (verdict.reason, c.reason);
      EXPECT_EQ (verdict.good, *c.reason == '\0');
    }
}

// Callers act on the code, not on the reason's words.
TEST (JudgeGpgvStatus, GivesEachRefusalItsCode)
{
  const struct
  {
    std::string status;
    int exit_status;
    KivConfigError code;
  } cases[] = {
    { "[GNUPG:] BADSIG 95 Good\n", 1, KIV_CONFIG_ERROR_BAD_SIGNATURE },
    { "[GNUPG:] NODATA 1\n", 2, KIV_CONFIG_ERROR_BAD_SIGNATURE },
    { validsig (100, 8, "01"), 0, KIV_CONFIG_ERROR_BAD_SIGNATURE },
    { "[GNUPG:] ERRSIG 7C 22 8 00 1 9 0CF8\n[GNUPG:] NO_PUBKEY 7C\n", 2,
      KIV_CONFIG_ERROR_UNKNOWN_KEY },
    { "[GNUPG:] EXPKEYSIG 95 Old\n" + validsig (100), 0, KIV_CONFIG_ERROR_EXPIRED_KEY },
    { "[GNUPG:] REVKEYSIG 29 Gone\n" + validsig (100), 0, KIV_CONFIG_ERROR_REVOKED_KEY },
    { "[GNUPG:] EXPSIG 95 Old\n" + validsig (100), 0, KIV_CONFIG_ERROR_EXPIRED_SIGNATURE },
    { validsig (100, 2), 0, KIV_CONFIG_ERROR_WEAK_DIGEST },
    { validsig (100), 2, KIV_CONFIG_ERROR_VERIFIER_FAILED },
    { "", 0, KIV_CONFIG_ERROR_VERIFIER_FAILED },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.status);
      EXPECT_EQ (judge_gpgv_status (c.status, c.exit_status).code, c.code);
    }
}

// A kept pair bounds the next file by its signature's time, judged by the clock of the moment:
// a pair kept while the clock was behind bounds the next run once it is right, and a signature
// dated in the future bounds only by when it was kept, so it does not lock out the releases after.
TEST (SignatureAge, BoundIsJudgedByTheClockOfTheMoment)
{
  constexpr gint64 now = 1796647206, day = 86400, future = now + 3650 * day;
  constexpr gint64 year_2001 = 1000000000; // a clock whose battery died
  const struct
  {
    gint64 created, signed_at, kept_at;
    bool refused;
  } cases[] = {
    { now, now - day, now - day, false },           // newer than the kept one
    { now - day, now - day, now - day, false },     // the same file again
    { now - 2 * day, now - day, now - day, true },  // older: played back
    { now - 2 * day, now - day, now + day, true },  // a copy moved the kept file's time on
    { now - 2 * day, -1, now - day, false },        // the kept pair no longer checks out
    { now - 2 * day, now - day, year_2001, true },  // kept while the clock read 2001
    { now - day, future, now - 2 * day, false },    // kept from the future, bounded by its keeping
    { now - 3 * day, future, now - 2 * day, true }, // older than the moment that pair was kept
    { now, future, future, false },                 // ... and never later than now
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (std::to_string (c.created) + " against " + std::to_string (c.signed_at)
                    + " kept at " + std::to_string (c.kept_at));
      const auto refusal
          = refusal_of_older (c.created, bound_of_kept_pair (c.signed_at, c.kept_at, now));
      EXPECT_EQ (!refusal.empty (), c.refused) << refusal;
    }
  EXPECT_EQ (refusal_of_older (now - day, now),
             "signed 2026-12-06 12:40:06 UTC, before the copy already kept, signed 2026-12-07 "
             "12:40:06 UTC");
}

// The rollback check compares creation times: the newest valid signature counts, and a
// signature accepted once keeps its time after its key has expired.
TEST (JudgeGpgvStatus, TakesTheNewestCreationTime)
{
  EXPECT_EQ (judge_gpgv_status (validsig (300) + validsig (1796647206), 0).created, 1796647206);
  EXPECT_EQ (judge_gpgv_status ("[GNUPG:] EXPKEYSIG 95 Old\n" + validsig (300), 0).created, 300);
  EXPECT_EQ (judge_gpgv_status ("[GNUPG:] BADSIG 95 Good\n", 1).created, -1);
}

TEST (DearmorKeyring, DecodesKeyBlocksAndRefusesDamagedOnes)
{
  const std::string block = "-----BEGIN PGP PUBLIC KEY BLOCK-----\n"
                            "Comment: a header\n"
                            "\n"
                            "a2l2IGtleXJp\n"
                            "bmcgYnl0ZXMK\n"
                            "=Ch0x\n"
                            "-----END PGP PUBLIC KEY BLOCK-----\n";
  const auto replaced
      = [&block] (std::string_view from, std::string_view to, std::string text = {}) {
          if (text.empty ())
            text = block;
          text.replace (text.find (from), from.size (), to);
          return text;
        };
  const std::string unchecked = replaced ("=Ch0x\n", "");
  const struct
  {
    const char *what;
    std::string text;
    const char *packets; // nullptr: refused
  } cases[] = {
    { "one block", block, "kiv keyring bytes\n" },
    { "CRLF, text around it", "keys\r\n" + replaced ("\n", "\r\n") + "end\n",
      "kiv keyring bytes\n" },
    { "no header, no checksum", replaced ("=Ch0x\n", "", replaced ("Comment: a header\n\n", "")),
      "kiv keyring bytes\n" },
    { "two blocks", block + block, "kiv keyring bytes\nkiv keyring bytes\n" },
    { "two headers", replaced ("Comment:", "Version: 2\nComment:"), "kiv keyring bytes\n" },
    { "wrong checksum", replaced ("=Ch0x", "=Ch0y"), nullptr },
    { "changed byte", replaced ("a2l2", "a2l3"), nullptr },
    { "not base64", replaced ("a2l2", "a2*2"), nullptr },
    { "padding inside", replaced ("a2l2IGtleXJp", "a2l2IGtleX=p"), nullptr },
    { "cut short", block.substr (0, block.find ("-----END")), nullptr },
    { "line after the checksum", replaced ("=Ch0x\n", "=Ch0x\nbmcg\n"), nullptr },
    // Each of these three is refused by its own rule alone: the checksum would match.
    { "checksum twice", replaced ("=Ch0x\n", "=Ch0x\n=Ch0x\n"), nullptr },
    { "checksum of five characters", replaced ("=Ch0x", "=Ch0xA"), nullptr },
    { "text after the padding, no checksum", replaced ("bmcgYnl0ZXMK", "bmcgYnl0ZX=K", unchecked),
      nullptr },
    { "another kind of block", replaced ("PUBLIC KEY", "SIGNATURE"), nullptr },
    { "binary keyring", "\x98\x33\x04", nullptr },
  };
  for (const auto &c : cases)
    {
      SCOPED_TRACE (c.what);
      std::string packets;
      EXPECT_EQ (dearmor_keyring (c.text, &packets), c.packets != nullptr);
      if (c.packets != nullptr)
        {
          EXPECT_EQ (packets, c.packets);
        }
    }
  EXPECT_TRUE (keyring_is_armoured ("\n  " + block));
  EXPECT_FALSE (keyring_is_armoured ("\x98\x33\x04-----BEGIN PGP PUBLIC KEY BLOCK-----"));
}
