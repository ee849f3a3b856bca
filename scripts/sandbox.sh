# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# shellcheck shell=bash
# Sourced by scripts/run, the end-to-end tests and the driver benchmark: helpers that run inside a
# fresh private mount and network namespace (sandbox_unshare), where a copy of /etc is mounted over
# /etc so that host names, trusted authorities and release files can be changed without touching
# the machine. $SANDBOX must name a scratch folder.

# sandbox_unshare COMMAND...: runs COMMAND in new mount, network and PID namespaces with their own
# /proc, as root inside (a user who is not root outside is mapped to it). Where namespaces cannot
# be made, as in many package build chroots, it fails at once: sandbox_usable tells, and why.
# The one place these namespaces are asked for: scripts/run, the end-to-end tests, the driver
# benchmark and the download tests' launcher (tests/net/isolated-network.sh) all go through it.
sandbox_unshare ()
{
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  unshare "${as_root[@]}" --mount --net --pid --fork --mount-proc --propagation private "$@"
}

# copy_tree FROM TO: copies what this user can read of FROM into TO, keeping modes, times and
# links but not owners: in a user namespace only the caller's own uid is mapped, so the owners of
# /etc (root, shadow...) cannot be given, and what only they may read (/etc/shadow,
# /etc/ssl/private) is left out, which nothing run in the sandbox needs.
copy_tree ()
{
  tar -C "$1" --ignore-failed-read --warning=no-failed-read -cf - . 2>/dev/null \
    | tar -C "$2" --no-same-owner -xf -
}

# sandbox_usable: whether sandbox_unshare can make its namespaces here. Where it cannot, says why
# in one line on standard output, with unshare's own words.
sandbox_usable ()
{
  local why hint=
  why=$(sandbox_unshare true 2>&1) && return 0
  # An ordinary user needs the kernel to allow user namespaces; some distributions turn them off.
  [ "$(id -u)" -eq 0 ] || hint=" (this needs root, or user namespaces: user.max_user_namespaces above 0, and kernel.unprivileged_userns_clone=1 or kernel.apparmor_restrict_unprivileged_userns=0 where those exist)"
  echo "no private namespaces can be made here: ${why:-unshare failed}$hint"
  return 1
}

# sandbox_enter: mounts the copy of /etc, brings up loopback (the only network there is), and
# makes $SANDBOX/home the home directory.
sandbox_enter ()
{
  mkdir -p "$SANDBOX/etc-copy" "$SANDBOX/bin" "$SANDBOX/home"
  copy_tree /etc "$SANDBOX/etc-copy"
  mount --bind "$SANDBOX/etc-copy" /etc
  ip link set lo up
  export HOME="$SANDBOX/home" LC_ALL=C
}

# trust_test_ca: makes a certificate authority for this run, trusts it inside the sandbox only,
# and points the configuration host name at loopback.
trust_test_ca ()
{
  "$KIV_MAKE_CA" "$SANDBOX/ca" "$KIV_CONFIG_HOST" > /dev/null
  cat "$SANDBOX/ca/ca.pem" >> /etc/ssl/certs/ca-certificates.crt
  printf '127.0.0.1 %s\n' "$KIV_CONFIG_HOST" >> /etc/hosts
}

# serve_config FILE [MODE] [CERTIFICATE] [SERVER OPTION...]: serves FILE as the configuration on
# loopback port 443 with the named certificate from trust_test_ca's folder (server, selfsigned or
# wronghost).
serve_config ()
{
  local file=$1 mode=${2:-normal} cert=${3:-server}
  shift $(($# < 3 ? $# : 3))
  rm -f "$SANDBOX/ready"
  "$KIV_SERVER" --cert "$SANDBOX/ca/$cert.pem" --key "$SANDBOX/ca/$cert.key" --file "$file" \
    --address 127.0.0.1 --port 443 --mode "$mode" --ready-file "$SANDBOX/ready" "$@" \
    2> "$SANDBOX/server.log" &
  for _ in $(seq 100); do
    [ -s "$SANDBOX/ready" ] && return 0
    sleep 0.05
  done
  echo "the configuration server did not start" >&2
  cat "$SANDBOX/server.log" >&2
  return 1
}

# Signed builds read the publisher's keys from the keyring file built into them,
# $KIV_CONFIG_KEYRING. These helpers make throwaway keys in a GnuPG home in $SANDBOX, never the
# user's, and put their keyring at that path in this namespace only.

# test_gpg ARGUMENT...: gpg on that home; keys have no passphrase.
test_gpg ()
{
  [ -d "$SANDBOX/gnupg" ] || test_gpg_home
  gpg --homedir "$SANDBOX/gnupg" --batch --quiet --yes --pinentry-mode loopback --passphrase '' "$@"
}

# test_gpg_home: makes test_gpg's home, empty.
test_gpg_home ()
{
  mkdir -m 700 "$SANDBOX/gnupg"
  # gpg-agent would put its sockets under /run/user/UID, outside $SANDBOX.
  [ ! -d /run/user ] || mount -t tmpfs tmpfs /run/user
}

# use_test_keys FOLDER: makes test_gpg's home a copy of FOLDER, a home kept from another
# namespace, whose keys then sign here too.
use_test_keys ()
{
  test_gpg_home
  cp -R "$1/." "$SANDBOX/gnupg/"
}

# make_test_key NAME [EXPIRY [GPG OPTION...]]: a new signing key with the user ID NAME@example.org.
make_test_key ()
{
  local name=$1 expiry=${2:-never}
  shift $(($# < 2 ? $# : 2))
  test_gpg "$@" --quick-gen-key "$name@example.org" ed25519 sign "$expiry"
}

# sign_as NAME FILE SIGNATURE [GPG OPTION...]: a detached signature of FILE by NAME's key, with
# SHA-512 unless the options choose another digest.
sign_as ()
{
  local name=$1 file=$2 signature=$3
  shift 3
  test_gpg --local-user "$name@example.org" --digest-algo SHA512 "$@" --output "$signature" \
    --detach-sign "$file"
}

# install_keyring FILE: FILE becomes the keyring at $KIV_CONFIG_KEYRING, whose folder is replaced
# by a copy of it in this namespace.
install_keyring ()
{
  local dir
  dir=$(dirname "$KIV_CONFIG_KEYRING")
  if [ ! -d "$SANDBOX/keyrings" ]; then
    mkdir "$SANDBOX/keyrings"
    copy_tree "$dir" "$SANDBOX/keyrings"
    mount --bind "$SANDBOX/keyrings" "$dir"
  fi
  cp "$1" "$KIV_CONFIG_KEYRING"
}

# publish_signed FILE: the signed road for FILE: a publisher key made for the run, its keyring
# installed, and FILE served with a signature by it.
publish_signed ()
{
  make_test_key publisher
  test_gpg --export publisher@example.org > "$SANDBOX/keyring.gpg"
  install_keyring "$SANDBOX/keyring.gpg"
  sign_as publisher "$1" "$SANDBOX/published.sig"
  serve_config "$1" normal server --signature "$SANDBOX/published.sig"
}
