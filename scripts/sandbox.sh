# Sourced by scripts/run and the end-to-end tests: helpers that run inside a fresh private mount
# and network namespace (unshare --mount --net), where a copy of /etc is mounted over /etc so that
# host names, trusted authorities and release files can be changed without touching the machine.
# $SANDBOX must name a scratch folder.

# sandbox_unshare COMMAND...: runs COMMAND in new mount, network and PID namespaces with their own
# /proc, as root inside (a user who is not root outside is mapped to it). Where namespaces cannot
# be made, as in many package build chroots, it fails at once: `sandbox_unshare true` tells.
sandbox_unshare ()
{
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  unshare "${as_root[@]}" --mount --net --pid --fork --mount-proc --propagation private "$@"
}

# sandbox_enter: mounts the copy of /etc, brings up loopback (the only network there is), and
# makes $SANDBOX/home the home directory.
sandbox_enter ()
{
  mkdir -p "$SANDBOX/etc-copy" "$SANDBOX/bin" "$SANDBOX/home"
  cp -a /etc/. "$SANDBOX/etc-copy/"
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

# serve_config FILE [MODE] [CERTIFICATE]: serves FILE as the configuration on loopback port 443
# with the named certificate from trust_test_ca's folder (server, selfsigned or wronghost).
serve_config ()
{
  local file=$1 mode=${2:-normal} cert=${3:-server}
  rm -f "$SANDBOX/ready"
  "$KIV_SERVER" --cert "$SANDBOX/ca/$cert.pem" --key "$SANDBOX/ca/$cert.key" --file "$file" \
    --address 127.0.0.1 --port 443 --mode "$mode" --ready-file "$SANDBOX/ready" \
    2> "$SANDBOX/server.log" &
  for _ in $(seq 100); do
    [ -s "$SANDBOX/ready" ] && return 0
    sleep 0.05
  done
  echo "the configuration server did not start" >&2
  cat "$SANDBOX/server.log" >&2
  return 1
}

