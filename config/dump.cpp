#include "config-private.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace
{
// Standard error is unbuffered, so writing a list value by value costs a system call or two per
// value: dumping a configuration of a million lines took seconds. A list line is gathered here
// and written in large pieces instead; each list line is complete on standard error before
// debug_ptr_array returns.
class StderrWriter
{
public:
  StderrWriter () = default;
  StderrWriter (const StderrWriter &) = delete;
  StderrWriter &operator= (const StderrWriter &) = delete;
  ~StderrWriter () { flush (); }

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
      fwrite (buffer_, 1, used_, stderr);
    used_ = 0;
  }

  char buffer_[16384];
  std::size_t used_ = 0;
};
} // namespace

void debug_ptr_array (const char *label, GPtrArray *list)
{
  StderrWriter out;
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

void debug_configuration (const Configuration *config)
{
  g_return_if_fail (config != nullptr);

  fputs ("{\n", stderr);
  for (const auto &list : configuration_lists)
    debug_ptr_array (list.name, config->*list.member);
  fputs ("}\n", stderr);
}
