#include "config-private.h"

#include <cstdio>

void debug_ptr_array (const char *label, GPtrArray *list)
{
  if (list == nullptr)
    {
      fprintf (stderr, "  %s: (nil)\n", label);
      return;
    }
  fprintf (stderr, "  %s: [", label);
  for (guint i = 0; i < list->len; i++)
    {
      if (i > 0)
        fputc (' ', stderr);
      fputs (static_cast<const char *> (g_ptr_array_index (list, i)), stderr);
    }
  fputs ("]\n", stderr);
}

void debug_configuration (const Configuration *config)
{
  g_return_if_fail (config != nullptr);

  fputs ("{\n", stderr);
  debug_ptr_array ("errors", config->errors);
  debug_ptr_array ("sources", config->sources);
  debug_ptr_array ("keys", config->keys);
  debug_ptr_array ("docs", config->docs);
  debug_ptr_array ("INSTALL", config->INSTALL);
  debug_ptr_array ("install", config->install);
  debug_ptr_array ("upgrade", config->upgrade);
  debug_ptr_array ("lts", config->lts);
  fputs ("}\n", stderr);
}
