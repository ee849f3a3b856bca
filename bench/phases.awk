# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# Cuts one run of a driver into the steps it takes one after the other, from what strace saw of
# it: strace -f -ttt -T -e trace=execve,connect,fsync,wait4,exit_group (bench/driver-bench.sh).
# Prints one line of milliseconds, each step from one mark to the next, so that they add up to
# the run:
#   start-up  the program's start, up to the release command (loading the libraries)
#   release   lsb_release, run by the back end, up to its end
#   set-up    up to the first connection (the proxy resolver, the TLS back end, the trust store)
#   download  the configuration over that connection, into its staging file (for the signed
#             road: the signature too, up to gpgv)
#   gpgv      the signature's check (0 without one)
#   end       the rest: flushing and renaming the files, the parse, the dump, the exit
# and, inside those: second, from the second connection, if there is one, to the next mark (the
# signature's download on a connection of its own), and fsync, the time spent in fsync.
NR == 1 { main = $1; t0 = $2 }
{ t = ($2 - t0) * 1000 }
/execve\("[^"]*\/lsb_release".* = 0 </ && release_start == "" { release_start = t }
/execve\("[^"]*\/gpgv".* = 0 </ && gpgv_start == "" { gpgv_start = t }
# The back end waits for its own child by its process id; the shell script's own waits say -1.
$1 == main && /wait4\([1-9][0-9]*,/ {
  if (release_end == "") release_end = t
  else if (gpgv_start != "" && gpgv_end == "") gpgv_end = t
}
/connect\(.*htons\(443\)/ { if (++connections == 1) first = t; else if (connections == 2) second = t }
/fsync\(/ {
  if (fsync_start == "") fsync_start = t
  match ($0, /<[0-9.]+>$/)
  fsync += substr ($0, RSTART + 1, RLENGTH - 2) * 1000
}
$1 == main && /exit_group/ { end = t }
END {
  downloaded = gpgv_start != "" ? gpgv_start : fsync_start
  printf "start-up %.1f release %.1f set-up %.1f download %.1f gpgv %.1f end %.1f second %.1f fsync %.1f total %.1f\n",
    release_start, release_end - release_start, first - release_end, downloaded - first,
    (gpgv_start != "" ? gpgv_end - gpgv_start : 0), end - (gpgv_start != "" ? gpgv_end : downloaded),
    (connections >= 2 ? downloaded - second : 0), fsync, end
}
