// config-private.h: the parser and dump behind config.h, shared by config/ and its tests,
// never installed.
#pragma once

#include <string_view>

#include "config.h"

// What the parser needs to know about the machine it runs on. machine is NULL when the
// machine is unknown: then no architecture-suffixed line is dropped.
struct HostFacts
{
  const char *machine;        // uname's machine name, such as "x86_64"
  const char *kernel_release; // uname's kernel release, such as "3.13.0-24-generic"
};

// A record with every list present and empty except errors, which is absent.
Configuration *new_configuration (void);

// Parses one instruction line (without its newline) into config for the given host.
// Returns false only for a line that starts a new section.
bool parse_instruction (Configuration *config, std::string_view line, const HostFacts &host);

// The same for this machine: the machine name and kernel release come from the system.
gboolean parse_cfg_line (Configuration *config, const char *line);

// The diagnostic dump on standard error: one list, or the whole record.
void debug_ptr_array (const char *label, GPtrArray *list);
void debug_configuration (const Configuration *config);
