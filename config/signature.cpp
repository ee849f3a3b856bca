// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// What a publisher's signature comes to: gpgv's status lines judged, the age of a signature
// against the kept one, and armoured keyrings decoded for gpgv. Reads nothing but its arguments.
#include "signature-private.h"

#include <charconv>
#include <iterator>
#include <vector>

#include "common-private.h"

namespace
{
constexpr std::string_view status_prefix = "[GNUPG:] ";

// Status lines that refuse the file, the most telling first: a key missing from the keyring
// also brings an ERRSIG line, which says less. Each reason names the key the line names.
constexpr struct
{
  std::string_view keyword, before, after;
  bool names_key;
  KivConfigError code;
} refusals[] = {
  { "NO_PUBKEY", "signed by key ", ", which is not in the keyring", true,
    KIV_CONFIG_ERROR_UNKNOWN_KEY },
  { "REVKEYSIG", "signed by key ", ", which has been revoked", true, KIV_CONFIG_ERROR_REVOKED_KEY },
  { "EXPKEYSIG", "signed by key ", ", which has expired", true, KIV_CONFIG_ERROR_EXPIRED_KEY },
  { "EXPSIG", "the signature by key ", " has expired", true, KIV_CONFIG_ERROR_EXPIRED_SIGNATURE },
  { "BADSIG", "bad signature by key ", ": the file is not what was signed", true,
    KIV_CONFIG_ERROR_BAD_SIGNATURE },
  { "ERRSIG", "the signature by key ", " cannot be checked", true, KIV_CONFIG_ERROR_BAD_SIGNATURE },
  { "NODATA", "no OpenPGP signature in the signature file", "", false,
    KIV_CONFIG_ERROR_BAD_SIGNATURE },
  // gpgv turns down a signed message given with a file to check; should one still get through,
  // what it vouches for is the message inside it, not the file.
  { "PLAINTEXT", "a signed message, not a detached signature", "", false,
    KIV_CONFIG_ERROR_BAD_SIGNATURE },
};

// The digests a signature may use (OpenPGP's numbers): SHA-2 and SHA-3. MD5, SHA-1 and
// RIPEMD-160 no longer stop a forger.
bool is_trusted_digest (int algorithm)
{
  switch (algorithm)
    {
    case 8:  // SHA-256
    case 9:  // SHA-384
    case 10: // SHA-512
    case 11: // SHA-224
    case 12: // SHA3-256
    case 14: // SHA3-512
      return true;
    default:
      return false;
    }
}

std::string digest_name (int algorithm)
{
  switch (algorithm)
    {
    case 1:
      return "MD5";
    case 2:
      return "SHA-1";
    case 3:
      return "RIPEMD-160";
    default:
      return "number " + std::to_string (algorithm);
    }
}

std::vector<std::string_view> fields_of (std::string_view line)
{
  std::vector<std::string_view> fields;
  while (!line.empty ())
    {
      const auto end = line.find (' ');
      if (end != 0)
        fields.push_back (line.substr (0, end));
      if (end == std::string_view::npos)
        break;
      line.remove_prefix (end + 1);
    }
  return fields;
}

template <typename Number> bool read_number (std::string_view field, Number *out)
{
  const auto end = field.data () + field.size ();
  const auto [stop, problem] = std::from_chars (field.data (), end, *out);
  return problem == std::errc () && stop == end && *out >= 0;
}

// VALIDSIG <fingerprint> <date> <created> <expires> <version> <reserved> <key algorithm>
// <digest algorithm> <class> [<primary fingerprint>]. The creation time could also come as an
// ISO 8601 string, which gpgv writes only when asked to; it is not read, and the line then
// counts as unreadable.
bool read_validsig (const std::vector<std::string_view> &fields, gint64 *out_created,
                    int *out_digest, std::string_view *out_class)
{
  *out_class = fields.size () >= 10 ? fields[9] : std::string_view ();
  return fields.size () >= 10 && read_number (fields[3], out_created)
         && read_number (fields[8], out_digest);
}

// A signature of class 00 vouches for the file's exact bytes. One of class 01 (gpg --textmode)
// vouches for its text with the line ends made canonical, so the same file served with CRLF line
// ends checks out too, and a lone "\r" line does not end a section as an empty line would.
constexpr std::string_view binary_signature_class = "00";

std::string utc_time (gint64 seconds)
{
  g_autoptr (GDateTime) time = g_date_time_new_from_unix_utc (seconds);
  g_autofree char *text
      = time != nullptr ? g_date_time_format (time, "%Y-%m-%d %H:%M:%S UTC") : nullptr;
  return text != nullptr ? text : std::to_string (seconds);
}

// The base64 alphabet of ASCII armour, padding included.
constexpr std::string_view base64_chars
    = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr std::string_view key_block_begin = "-----BEGIN PGP PUBLIC KEY BLOCK-----";
constexpr std::string_view key_block_end = "-----END PGP PUBLIC KEY BLOCK-----";

// The armour's checksum over the decoded bytes.
guint32 crc24 (std::string_view data)
{
  guint32 crc = 0xB704CE;
  for (const unsigned char byte : data)
    {
      crc ^= guint32 (byte) << 16;
      for (int bit = 0; bit < 8; bit++)
        {
          crc <<= 1;
          if (crc & 0x1000000)
            crc ^= 0x1864CFB;
        }
    }
  return crc & 0xFFFFFF;
}

// Armour lines count without their trailing blanks or carriage return.
constexpr std::string_view armour_blanks = " \t\r";

std::string_view armour_line (std::string_view line)
{
  return line.substr (0, line.find_last_not_of (armour_blanks) + 1);
}

// Padding may close the base64 text, but never stand inside it.
bool is_whole_base64 (std::string_view text)
{
  const auto pad = text.find ('=');
  return text.size () % 4 == 0
         && (pad == std::string_view::npos
             || (pad + 2 >= text.size () && text.find_first_not_of ('=', pad) == text.npos));
}

std::string decode_base64 (const std::string &text)
{
  gsize length = 0;
  g_autofree guchar *bytes = g_base64_decode (text.c_str (), &length);
  return std::string (reinterpret_cast<const char *> (bytes), length);
}

// Decodes the body of one key block, from after its first line through its end line.
bool decode_key_block (Lines &lines, std::string *out_packets)
{
  std::string base64;
  std::string_view line, checksum;
  bool in_headers = true;
  while (lines.next (line))
    {
      line = armour_line (line);
      // Headers ("Comment: ...") come first and end at a blank line; base64 has no colon.
      if (in_headers && (line.empty () || line.find (':') != line.npos))
        {
          in_headers = !line.empty ();
          continue;
        }
      in_headers = false;
      if (line == key_block_end)
        {
          if (!is_whole_base64 (base64))
            return false;
          const std::string packets = decode_base64 (base64);
          if (!checksum.empty ())
            {
              const std::string sum = decode_base64 (std::string (checksum));
              if (checksum.size () != 4 || sum.size () != 3
                  || crc24 (packets)
                         != (guint32 (guchar (sum[0])) << 16 | guint32 (guchar (sum[1])) << 8
                             | guchar (sum[2])))
                return false;
            }
          out_packets->append (packets);
          return true;
        }
      if (!checksum.empty () || line.find_first_not_of (base64_chars) != line.npos)
        return false;
      if (line.starts_with ('='))
        checksum = line.substr (1);
      else
        base64.append (line);
    }
  return false;
}
} // namespace

SignatureVerdict judge_gpgv_status (std::string_view status, int exit_status)
{
  SignatureVerdict verdict;
  std::size_t refusal = std::size (refusals);
  std::string_view refused_key;
  bool valid = false, unreadable = false;
  int weak_digest = -1;
  std::string_view text_class;

  Lines lines (status);
  for (std::string_view line; lines.next (line);)
    {
      if (!line.starts_with (status_prefix))
        continue;
      const auto fields = fields_of (line.substr (status_prefix.size ()));
      if (fields.empty ())
        continue;

      for (std::size_t rank = 0; rank < refusal; rank++)
        if (fields[0] == refusals[rank].keyword)
          {
            refusal = rank;
            refused_key = fields.size () > 1 ? fields[1] : "(unknown)";
          }

      gint64 created = -1;
      int digest = -1;
      std::string_view signature_class;
      if (fields[0] != "VALIDSIG")
        continue;
      if (!read_validsig (fields, &created, &digest, &signature_class))
        {
          unreadable = true;
          continue;
        }
      valid = true;
      verdict.created = std::max (verdict.created, created);
      if (!is_trusted_digest (digest) && weak_digest < 0)
        weak_digest = digest;
      if (signature_class != binary_signature_class && text_class.empty ())
        text_class = signature_class;
    }

  if (refusal < std::size (refusals))
    {
      const auto &r = refusals[refusal];
      verdict.reason.append (r.before);
      if (r.names_key)
        verdict.reason.append (refused_key);
      verdict.reason.append (r.after);
      verdict.code = r.code;
    }
  else if (unreadable)
    verdict.reason = "gpgv wrote a VALIDSIG line that cannot be read";
  else if (!text_class.empty ())
    {
      verdict.reason = "a signature of class " + std::string (text_class)
                       + ", made in text mode: only a binary signature vouches for the file's "
                         "exact bytes";
      verdict.code = KIV_CONFIG_ERROR_BAD_SIGNATURE;
    }
  else if (weak_digest >= 0)
    {
      verdict.reason = "the signature uses the weak digest " + digest_name (weak_digest);
      verdict.code = KIV_CONFIG_ERROR_WEAK_DIGEST;
    }
  else if (!valid)
    verdict.reason = "gpgv found no valid signature";
  else if (exit_status != 0)
    verdict.reason = exit_status < 0
                         ? std::string ("gpgv did not end normally")
                         : "gpgv failed with exit status " + std::to_string (exit_status);
  verdict.good = verdict.reason.empty ();
  return verdict;
}

std::string refusal_of_older (gint64 created, gint64 kept)
{
  if (created >= kept)
    return {};
  return "signed " + utc_time (created) + ", before the copy already kept, signed "
         + utc_time (kept);
}

bool is_newer_than_stored (gint64 created, const KeptPairTimes &kept)
{
  return kept.signature < 0 || (kept.signature < kept.file && created >= kept.signature);
}

gint64 bound_of_kept_pair (gint64 signed_at, gint64 kept_at, gint64 now)
{
  return signed_at <= now ? signed_at : std::min (kept_at, now);
}

bool keyring_is_armoured (std::string_view text)
{
  const auto start = text.find_first_not_of (" \t\r\n");
  return start != text.npos && text.substr (start).starts_with ("-----BEGIN PGP ");
}

bool dearmor_keyring (std::string_view text, std::string *out_packets)
{
  out_packets->clear ();
  bool found = false;
  Lines lines (text);
  for (std::string_view line; lines.next (line);)
    if (armour_line (line) == key_block_begin)
      {
        if (!decode_key_block (lines, out_packets))
          return false;
        found = true;
      }
  return found;
}
