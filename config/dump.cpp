// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
#include "dump-private.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "parse-private.h"

namespace
{
// Standard error is unbuffered, so writing a list value by value costs a system call or two per
// value: dumping a configuration of a million lines took seconds. A list line is gathered here
// and written in large pieces instead; each list line is complete on the stream before the
// writer goes.
class StreamWriter
{
public:
  explicit StreamWriter (FILE *out) : out_ (out) {}
  StreamWriter (const StreamWriter &) = delete;
  StreamWriter &operator= (const StreamWriter &) = delete;
  ~StreamWriter () { flush (); }

  void add (std::string_view text)
  {
    while (!text.empty ())
      {
        const auto n = std::min (text.size (), sizeof buffer_ - used_);
        memcpy (buffer_ + used_, text.data (), n);
        used_ += n;
        text.remove_prefix (n);
        if (used_ == sizeof buffer_)
          flush ();
      }
  }

private:
  void flush ()
  {
    if (used_ > 0)
      fwrite (buffer_, 1, used_, out_);
    used_ = 0;
  }

  FILE *out_;
  char buffer_[16384];
  std::size_t used_ = 0;
};

void write_list (FILE *stream, const char *label, GPtrArray *list)
{
  StreamWriter out (stream);
  out.add ("  ");
  out.add (label);
  if (list == nullptr)
    {
      out.add (": (nil)\n");
      return;
    }
  out.add (": [");
  for (guint i = 0; i < list->len; i++)
    {
      if (i > 0)
        out.add (" ");
      out.add (static_cast<const char *> (g_ptr_array_index (list, i)));
    }
  out.add ("]\n");
}
} // namespace

void debug_ptr_array (const char *label, GPtrArray *list)
{
  write_list (stderr, label, list);
}

void dump_configuration (FILE *out, const Configuration *config)
{
  g_return_if_fail (config != nullptr);

  fputs ("{\n", out);
  for (const auto &list : configuration_lists)
    write_list (out, list.name, config->*list.member);
  fputs ("}\n", out);
}

void debug_configuration (const Configuration *config)
{
  dump_configuration (stderr, config);
}
