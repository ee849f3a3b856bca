// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// Running a helper program (lsb_release, gpgv) and reading what it writes, with a cancellable wired
// into every wait: for its output and for its end.
#include "common-private.h"

#include <csignal>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace
{
// glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage, so the system call is made
// directly.
int open_pidfd (pid_t pid)
{
  return int (syscall (SYS_pidfd_open, pid, 0));
}

// A child that can be cancelled gets a process group of its own, so that cancelling ends it
// together with whatever it started (a shell script's own children, say).
void own_process_group (gpointer)
{
  setpgid (0, 0);
}

// Waits until fd is readable or cancellable is cancelled; FALSE with error set on cancellation.
gboolean wait_readable (int fd, GCancellable *cancellable, GError **error)
{
  GPollFD fds[2] = { { fd, G_IO_IN | G_IO_HUP | G_IO_ERR, 0 }, {} };
  const int n = cancellable != nullptr && g_cancellable_make_pollfd (cancellable, &fds[1]) ? 2 : 1;
  retry_on_eintr ([&] { return g_poll (fds, guint (n), -1); });
  if (n == 2)
    g_cancellable_release_fd (cancellable);
  return !g_cancellable_set_error_if_cancelled (cancellable, error);
}

class Child
{
public:
  Child (GPid pid, bool own_group) : pid_ (pid), own_group_ (own_group) {}
  Child (const Child &) = delete;
  Child &operator= (const Child &) = delete;
  // A child that is still running when its owner gives up on it is killed, never left behind.
  ~Child ()
  {
    if (pid_ <= 0)
      return;
    kill (own_group_ ? -pid_ : pid_, SIGKILL);
    reap ();
  }

  // Waits for the child's end; FALSE with error set when cancelled first. A kernel without
  // pidfd_open cannot wait for a child and a cancellable at once: there the wait is not
  // cancellable.
  gboolean wait (GCancellable *cancellable, int *out_status, GError **error)
  {
    const UniqueFd pidfd (cancellable != nullptr ? open_pidfd (pid_) : -1);
    if (pidfd && !wait_readable (pidfd.get (), cancellable, error))
      return FALSE;
    *out_status = reap ();
    return TRUE;
  }

private:
  int reap ()
  {
    int status = 0;
    const pid_t reaped = retry_on_eintr ([&] { return waitpid (pid_, &status, 0); });
    pid_ = 0;
    return reaped > 0 && WIFEXITED (status) ? WEXITSTATUS (status) : -1;
  }

  GPid pid_;
  bool own_group_;
};
} // namespace

gboolean run_program (const char *const *argv, const ProgramOptions &options,
                      GCancellable *cancellable, std::string *out_output, int *out_exit_status,
                      GError **error)
{
  auto flags
      = GSpawnFlags (G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CLOEXEC_PIPES);
  if (options.quiet)
    flags = GSpawnFlags (flags | G_SPAWN_STDERR_TO_DEV_NULL);
  std::vector<int> target_fds;
  for (std::size_t i = 0; i < options.fds.size (); i++)
    target_fds.push_back (3 + int (i));
  const bool own_group = cancellable != nullptr;
  GPid pid = 0;
  int stdout_fd = -1;
  if (!g_spawn_async_with_pipes_and_fds (
          nullptr, argv, nullptr, flags, own_group ? own_process_group : nullptr, nullptr,
          options.stdin_fd, -1, -1, options.fds.data (), target_fds.data (), options.fds.size (),
          &pid, nullptr, &stdout_fd, nullptr, error))
    return FALSE;
  Child child (pid, own_group);
  const UniqueFd output (stdout_fd);

  out_output->clear ();
  char buffer[4096];
  while (true)
    {
      if (!wait_readable (output.get (), cancellable, error))
        return FALSE;
      const ssize_t n
          = retry_on_eintr ([&] { return read (output.get (), buffer, sizeof buffer); });
      if (n <= 0)
        break;
      out_output->append (buffer, std::size_t (n));
    }
  return child.wait (cancellable, out_exit_status, error);
}
