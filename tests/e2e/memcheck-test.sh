#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# The driver end to end under valgrind's memcheck: a retrieval over HTTPS from the bundled server,
# a server answering 404, and a machine without release information. Each run must show no
# invalid read or write, no use of uninitialised memory, and nothing definitely or indirectly
# lost. Of what is still allocated at exit, the memory the project's own code allocated must be
# the process-wide records (the distribution record, the configuration and its lists, the kernel
# range pattern); everything else belongs to the libraries.
#
# What counts, and why:
# - GLib, GIO, libsoup, GnuTLS and glibc keep process-wide state for good (the type system, the
#   loaded GIO modules, the TLS backend and trust store, worker threads and their thread-local
#   blocks). It is still reachable, or "possibly lost" where only a pointer into a block's middle
#   is left (glibc's thread vectors of GLib's worker threads, which are still running at exit).
#   None of it can be released by the caller, so it is attributed to the library and accepted.
# - A block is attributed to the code that asked for it: the first frame of its allocation stack
#   that is not an allocator (malloc, g_malloc, g_strdup, the GPtrArray growth...). Unnamed frames
#   inside GLib are passed over the same way, so a list growing inside g_ptr_array_add counts as
#   the project's append.
# - glibc's own exit-time clean-up (--run-libc-freeres) is off: it frees the resolver's
#   configuration while GLib's resolver thread still points at it, which would show up as
#   "definitely lost" although nothing leaked.
# - G_SLICE=always-malloc makes every GLib block visible to memcheck, and G_DEBUG=gc-friendly
#   clears pointers GLib leaves behind in freed memory, so nothing freed is counted as reachable.
# - memcheck.supp lists the few blocks the libraries themselves lose, each one reproduced by a
#   plain libsoup fetch without any of the project's code (bench/soup-fetch.c). Nothing else is
#   suppressed.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The project functions that fill a process-wide record.
record_builders='get_distro_information|parse_instruction|parse_release_output|parse_release_file|replace_field|match_fedora_release|new_configuration|append|copy_text|kernel_range_cache'

# memcheck_driver: runs the driver under memcheck, its log in $SANDBOX/memcheck.log.
memcheck_driver ()
{
  local valgrind
  valgrind=$(command -v valgrind)
  G_SLICE=always-malloc G_DEBUG=gc-friendly PATH="$SANDBOX/bin" \
    "$valgrind" --tool=memcheck --suppressions="$KIV_E2E_DIR/memcheck.supp" \
      --run-libc-freeres=no --leak-check=full --show-leak-kinds=all \
      --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=60 \
      --log-file="$SANDBOX/memcheck.log" "$KIV_DRIVER"
}

# memcheck_verdict LOG: checks the log as described at the top; says what is wrong, if anything.
memcheck_verdict ()
{
  local log=$1
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$log"; then
    echo "memcheck reports errors:"
    awk '/^==[0-9]+== ([A-Z]|.*(definitely|indirectly) lost in loss record)/ && !/(still reachable|possibly lost) in loss record/ { show = 1 }
         show; /^==[0-9]+== *$/ { show = 0 }' "$log"
    return 1
  fi
  if ! grep -q 'All heap blocks were freed' "$log"; then
    grep -q 'definitely lost: 0 bytes in 0 blocks' "$log" || { echo "definitely lost"; return 1; }
    grep -q 'indirectly lost: 0 bytes in 0 blocks' "$log" || { echo "indirectly lost"; return 1; }
  fi
  awk -v builders="$record_builders" '
    function location (line) {
      return match (line, / \((in [^()]*|[^():]+:[0-9]+)\)$/) ? substr (line, RSTART + 2, RLENGTH - 3) : ""
    }
    function function_name (line) {
      sub (/^==[0-9]+== +(at|by) 0x[0-9A-Fa-f]+: /, "", line)
      if (match (line, / \((in [^()]*|[^():]+:[0-9]+)\)$/))
        line = substr (line, 1, RSTART - 1)
      return line
    }
    /are (still reachable|possibly lost) in loss record/ {
      in_record = 1; attributed = 0; header = $0; bytes = $2; gsub (/,/, "", bytes); next
    }
    in_record && /^==[0-9]+== +(at|by) 0x/ {
      if (attributed) next
      name = function_name ($0); where = location ($0)
      if (name ~ /^(malloc|calloc|realloc|memalign|posix_memalign|aligned_alloc|operator new)/ \
          || name ~ /^g_(try_)?(malloc|malloc0|realloc)(_n)?$/ \
          || name ~ /^g_(strdup|strndup|strdup_printf|strdup_vprintf|vasprintf|memdup2|slice_alloc0?)$/ \
          || name ~ /^g_(ptr_array|array|string)_/ \
          || (name == "???" && where ~ /libglib-2\.0\.so/))
        next
      attributed = 1
      if (where ~ /^(distro|version|arch|parse|dump|retrieve|download|main)\.cpp:/ \
          || where ~ /libkiv\.so|kiv-config-check/) {
        project += bytes
        if (header ~ /possibly lost/ || name !~ "(" builders ")") {
          print "not a process-wide record: " header; print "    allocated in " name " (" where ")"
          bad = 1
        }
      } else
        library += bytes
      next
    }
    in_record && /^==[0-9]+== *$/ { in_record = 0 }
    /suppressed: [0-9,]+ bytes in/ { suppressed = $3; gsub (/,/, "", suppressed) }
    END {
      printf "    at exit: %d bytes in the process-wide records, %d bytes of the libraries", project, library
      printf "; %d bytes lost inside the libraries, as memcheck.supp lists\n", suppressed
      exit bad
    }' "$log"
}

# expect_clean NAME STATUS FUNCTION: runs FUNCTION, which sets up the sandbox and ends with
# memcheck_driver; checks the driver's status and the memcheck log.
expect_clean ()
{
  local name=$1 want_status=$2 fn=$3 status=0
  rm -f "$e2e_scratch/memcheck.log"
  in_sandbox "$fn" > "$e2e_scratch/out" 2> "$e2e_scratch/err" || status=$?
  if [ "$status" -ne "$want_status" ]; then
    echo "FAIL: $name (status $status, expected $want_status; memcheck's own is 99)"
    sed 's/^/    /' "$e2e_scratch/err" | tail -n 40
    [ ! -e "$e2e_scratch/memcheck.log" ] || memcheck_verdict "$e2e_scratch/memcheck.log" | sed 's/^/    /'
    e2e_failed=$((e2e_failed + 1))
  elif memcheck_verdict "$e2e_scratch/memcheck.log" > "$e2e_scratch/verdict"; then
    echo "PASS: $name"
    cat "$e2e_scratch/verdict"
    e2e_passed=$((e2e_passed + 1))
  else
    echo "FAIL: $name"
    sed 's/^/    /' "$e2e_scratch/verdict"
    e2e_failed=$((e2e_failed + 1))
  fi
}

# Every kind of instruction, an unrecognised line, a dropped foreign line and nested ranges.
full_section ()
{
  printf '%s\n' '# another machine first' '[Ubuntu trusty]' 'i trusty-only' '' \
    '[Debian bookworm] # this machine' \
    'e Please read the release notes first ' \
    's deb https://repo.example.org/debian bookworm main  ' \
    'g https://repo.example.org/key.asc' 'docs https://docs.example.org/' \
    'i kiv-tools' 'i kiv-gl:amd64' 'I kiv-core:i386' 'u kiv-legacy' 'l kiv-lts' \
    'k 1 999 i kiv-any-kernel' 'k 1 999 k 0.1 999 e nested' 'k 999 1000 i kiv-future' \
    'x unknown instruction' 'n a note' "i kiv-crlf$(printf '\r')" \
    '' 'i after-the-section' > "$SANDBOX/cfg"
  debian_bookworm
  trust_test_ca
  serve_config "$SANDBOX/cfg"
  memcheck_driver || status=$?
  cp "$SANDBOX/memcheck.log" "$KIV_E2E_LOG"
  return "${status:-0}"
}

not_found ()
{
  debian_bookworm
  trust_test_ca
  serve_config /dev/null not-found
  memcheck_driver || status=$?
  cp "$SANDBOX/memcheck.log" "$KIV_E2E_LOG"
  return "${status:-0}"
}

# Neither the release command nor the release file: the driver stops before any download.
no_release_information ()
{
  memcheck_driver || status=$?
  cp "$SANDBOX/memcheck.log" "$KIV_E2E_LOG"
  return "${status:-0}"
}

[ "${1:-}" = --definitions-only ] && return 0

KIV_E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export KIV_E2E_DIR KIV_E2E_LOG=$e2e_scratch/memcheck.log
expect_clean "memcheck: a retrieval over HTTPS" 0 full_section
expect_clean "memcheck: a server answering 404" 1 not_found
expect_clean "memcheck: no release information" 1 no_release_information
e2e_finish
