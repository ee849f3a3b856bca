// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// signature-private.h: whether the publisher's signature vouches for a configuration: the verdict
// on what gpgv says and on the signature's age (pure), and the signed fetch that runs gpgv; shared
// by config/ and its tests, never installed.
#pragma once

#include <string>
#include <string_view>

#include <gio/gio.h>

#include "config.h"
#include "download-private.h"

// What gpgv's status lines (--status-fd) and exit status say about a detached signature.
struct SignatureVerdict
{
  bool good = false;   // exit status 0, a VALIDSIG line, nothing refused
  gint64 created = -1; // creation time of the newest valid signature (seconds since 1970), or -1
  std::string reason;  // one line saying why the signature is not good; empty when it is
  KivConfigError code = KIV_CONFIG_ERROR_VERIFIER_FAILED; // why, for callers; unused when good
};

// Judges gpgv's status output. Refuses a bad, unknown, expired or revoked signature, a key that
// expired or was revoked (gpgv still exits with 0 for those), no signature at all, a signed
// message in place of a detached signature, and digests too weak to trust (MD5, SHA-1,
// RIPEMD-160). created is filled from the VALIDSIG lines even when the verdict is not good, so
// that a signature accepted once still gives its time after its key has expired.
// exit_status is gpgv's, or -1 when it did not exit normally.
SignatureVerdict judge_gpgv_status (std::string_view status, int exit_status);

// An older file, even one the publisher signed, may say what the publisher has since taken back
// (an archive key revoked, a package pulled): it never replaces a newer one. Returns why a good
// signature made at created may not replace one kept from an earlier run made at kept (-1: none
// known), or an empty string. A signature made at the same second is taken, so that the same
// file can be fetched again.
std::string refusal_of_older (gint64 created, gint64 kept);

// What the kept pair's files say without asking gpgv: the kept signature's modification time and
// the kept file's, each -1 when there is no such regular file.
struct KeptPairTimes
{
  gint64 signature = -1;
  gint64 file = -1;
};

// Whether a good signature made at created may replace the kept pair without asking gpgv when the
// kept signature was made. A signature is kept with its creation time as its modification time,
// which is taken for that only where it comes before the kept file's, as a signature comes before
// the file is fetched: earlier versions kept the time of keeping there when the clock was behind
// the signature, and a copy of the files moves both times on.
bool is_newer_than_stored (gint64 created, const KeptPairTimes &kept);

// The time a pair kept from an earlier run bounds the next one with, judged at now: when its
// signature was made, as gpgv finds it (signed_at; -1 when the pair no longer checks out, which
// sets no bound), so that a pair kept while the clock was behind still bounds the next run once the
// clock is right. A signature dated in the future of now bounds by no later than when its file was
// kept (kept_at, the kept file's modification time), nor than now: a publisher's clock that ran
// ahead once must not hold back every release signed after.
gint64 bound_of_kept_pair (gint64 signed_at, gint64 kept_at, gint64 now);

// Whether a keyring file holds ASCII armour, which gpgv does not read, rather than binary packets.
bool keyring_is_armoured (std::string_view text);

// Decodes every "PGP PUBLIC KEY BLOCK" in text into the binary packets gpgv reads. Returns false
// when there is none, or one is malformed: a character outside base64, a missing end line, or a
// checksum that does not match.
bool dearmor_keyring (std::string_view text, std::string *out_packets);

// Downloads url into a staging file beside path and its detached signature (url + ".sig", at most
// 64 KiB) beside path + ".sig", and puts both in place only when gpgv finds the signature good by
// a key in keyring and no older than the signature kept at path + ".sig". Returns exactly the
// bytes gpgv checked, or NULL with error set (KIV_CONFIG_ERROR when the file was downloaded but
// refused); the files at path and path + ".sig" are then left as they were.
GBytes *fetch_signed_configuration (const char *url, const char *path, const char *keyring,
                                    const DownloadControl &control, GError **error);
