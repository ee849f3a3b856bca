#include "host.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace
{
constexpr std::string_view separators = ".:-";

// Walks the components of a version string in place. An empty string has no components; a
// leading, trailing or doubled separator gives an empty component.
class Components
{
public:
  explicit Components (const char *text) : rest_ (text), done_ (rest_.empty ()) {}

  bool done () const { return done_; }

  std::string_view next ()
  {
    const auto end = rest_.find_first_of (separators);
    const auto component = rest_.substr (0, end);
    if (end == std::string_view::npos)
      done_ = true;
    else
      rest_.remove_prefix (end + 1);
    return component;
  }

private:
  std::string_view rest_;
  bool done_;
};

bool is_number (std::string_view component)
{
  return !component.empty ()
         && component.find_first_not_of ("0123456789") == std::string_view::npos;
}

// Compares two digit strings by magnitude, however long they are.
int compare_numbers (std::string_view x, std::string_view y)
{
  x.remove_prefix (std::min (x.find_first_not_of ('0'), x.size ()));
  y.remove_prefix (std::min (y.find_first_not_of ('0'), y.size ()));
  if (x.size () != y.size ())
    return x.size () < y.size () ? -1 : 1;
  const int order = x.compare (y);
  return (order > 0) - (order < 0);
}

// Byte-wise, unsigned, with a shorter prefix ordering first: strcmp on the component alone.
int compare_text (std::string_view x, std::string_view y)
{
  const int order = memcmp (x.data (), y.data (), std::min (x.size (), y.size ()));
  if (order != 0)
    return order;
  return (x.size () > y.size ()) - (x.size () < y.size ());
}
} // namespace

int compare_versions (const char *a, const char *b)
{
  Components left (a);
  Components right (b);
  while (!left.done () && !right.done ())
    {
      const auto x = left.next ();
      const auto y = right.next ();
      const int order = is_number (x) && is_number (y) ? compare_numbers (x, y) : compare_text (x, y);
      if (order != 0)
        return order;
    }
  // Equal so far: the one with fewer components comes first.
  return int (!left.done ()) - int (!right.done ());
}
