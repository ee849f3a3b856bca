// An owning pointer to a Configuration, for tests and fuzz targets: the product's records live
// for the whole process, but each test case makes and drops its own.
#pragma once

#include <memory>

#include <glib.h>

#include "config-private.h"

struct ConfigurationFree
{
  void operator() (Configuration *config) const
  {
    for (GPtrArray *list : { config->errors, config->sources, config->keys, config->docs,
                             config->INSTALL, config->install, config->upgrade, config->lts })
      if (list != nullptr)
        g_ptr_array_unref (list);
    g_free (config);
  }
};
using ConfigurationPtr = std::unique_ptr<Configuration, ConfigurationFree>;
