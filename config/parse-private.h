// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// parse-private.h: the instruction parser and the section walk, from a configuration's text to
// its record; shared by config/, its tests and kiv-config-lint, never installed.
#pragma once

#include <string_view>

#include "common-private.h"
#include "config.h"
#include "host.h"

// What the parser needs to know about the machine it runs on. machine is NULL when the
// machine is unknown: then no architecture-suffixed line is dropped.
struct HostFacts
{
  const char *machine;        // uname's machine name, such as "x86_64"
  const char *kernel_release; // uname's kernel release, such as "3.13.0-24-generic"
  // When machine is NULL and this is set, it is asked for the machine name by each line that
  // needs one (an install or upgrade line with an architecture suffix), and by no other.
  const char *(*find_machine) (void) = nullptr;
  // Every kernel range applies, whatever the release: a checker reads each nested instruction
  // this way, in the parser's own loop over the chain.
  bool every_kernel = false;
};

// The parser's facts for a machine described by distro (which may be NULL): its machine name
// and the kernel release uname gave on first use.
HostFacts host_facts (const DistroInformation *distro);

// This machine as the parser sees it: host_facts of get_distro_information ().
HostFacts this_machine (void);

// The eight lists in the order of the record and of the dump, with the names the dump gives them.
struct ConfigurationList
{
  const char *name;
  GPtrArray *Configuration::*member;
};
inline constexpr ConfigurationList configuration_lists[] = {
  { "errors", &Configuration::errors },   { "sources", &Configuration::sources },
  { "keys", &Configuration::keys },       { "docs", &Configuration::docs },
  { "INSTALL", &Configuration::INSTALL }, { "install", &Configuration::install },
  { "upgrade", &Configuration::upgrade }, { "lts", &Configuration::lts },
};

// A record with every list present and empty except errors, which is absent.
Configuration *new_configuration (void);

// Frees a record and its lists. get_configuration's record lives as long as the process; records
// made for a single look at a file (a check, a test) are freed with this.
void free_configuration (Configuration *config);
G_DEFINE_AUTOPTR_CLEANUP_FUNC (Configuration, free_configuration)

// The three groups of the kernel range pattern "([0-9.]+)\s+([0-9.]+)\s+(.*)".
struct KernelRange
{
  std::string_view low, high, nested;
};

// Why a section walk stopped.
enum class SectionEnd
{
  empty_line,
  next_section, // a line that starts another section
  end_of_text,
};

// Told what the section walk and the instruction parser did with each line, by a caller that
// wants to know why a record came out as it did (a checker, a previewer), or that wants the
// parser quiet: a caller with an observer hears of a skipped line from it, and the parser logs
// nothing. get_configuration passes none: each report sits behind a test of the pointer, so
// parsing without one costs nothing more.
class ParseObserver
{
public:
  virtual ~ParseObserver () = default;

  // The section walk, with line numbers counted from 1. Each line handed to the parser is
  // announced before it is parsed, the one that turns out to start the next section included;
  // the parser's reports that follow belong to it. A section ends at line_number: the empty line,
  // the line that starts the next section, or one past the last line of the text.
  virtual void section_selected (std::size_t /* line_number */, std::string_view /* header */) {}
  virtual void section_line (std::size_t /* line_number */, std::string_view /* line */) {}
  virtual void section_ended (std::size_t /* line_number */, SectionEnd /* why */) {}

  // The instruction parser. A kernel range's nested instruction, when the range applies, is
  // parsed and reported as a line of its own.
  virtual void appended (GPtrArray *Configuration::* /* list */, std::string_view /* value */) {}
  // An install, INSTALL or upgrade line with a suffix, and whether the filter kept it.
  virtual void architecture_suffix (std::string_view /* arch */, bool /* kept */) {}
  // A kernel range that matched the pattern in arguments (the text after the instruction's first
  // word, which the range's views point into), and whether the kernel is in it.
  virtual void kernel_range (std::string_view /* arguments */, const KernelRange & /* range */,
                             bool /* applies */)
  {
  }
  // A kernel range instruction whose text the pattern does not match: it never applies.
  virtual void kernel_range_unmatched (std::string_view /* text */) {}
  virtual void unrecognised (std::string_view /* line */) {}
};

// Parses one instruction line (without its newline) into config for the given host, telling
// observer (which may be NULL) what it did. Returns false only for a line that starts a new
// section.
bool parse_instruction (Configuration *config, std::string_view line, const HostFacts &host,
                        ParseObserver *observer = nullptr);

// The same for this machine: the machine name and kernel release come from the system.
gboolean parse_cfg_line (Configuration *config, const char *line);

// An instruction line's first word, whose first byte is the letter (the rest of a keyword written
// out, as "docs" for "d", changes nothing), and its value: everything after that word and the
// blanks that follow it.
std::string_view instruction_word (std::string_view line);
std::string_view instruction_value (std::string_view line);

// What the parser does with a line without parsing it: starts a section, or is skipped as a
// comment, a note or an empty line.
bool starts_section (std::string_view line);
bool is_comment (std::string_view line);

// Finds the first match of the kernel range pattern in text, the one an unanchored GRegex search
// finds, in time linear in the length of text. Text that is not valid UTF-8 never matches.
// text_is_nested says that text came out of the nested group of an earlier match: it is then
// known to be valid and free of line breaks, and is not checked again.
bool find_kernel_range (std::string_view text, bool text_is_nested, KernelRange *out_range);

// Where a reading of the kernel range pattern from the first character of text stops: the offset
// of the first character that no match starting there can take. npos when text runs out before
// that, matches there, or is not valid UTF-8. Asks GRegex itself, so the pattern's idea of a
// blank is the one used.
std::size_t kernel_range_stop (std::string_view text);

// The config-id of the section for a machine described by distro (which may be NULL):
// "[distributor codename]", an absent field written as "(null)". Free it with g_free.
char *config_id_for (const DistroInformation *distro);

// Finds the first line of text that begins with config_id and parses the lines after it into
// config, up to an empty line, a line that starts another section, or the end of text, telling
// observer (which may be NULL) what it did.
void parse_section (Configuration *config, std::string_view text, std::string_view config_id,
                    const HostFacts &host, ParseObserver *observer = nullptr);

// Told by walk_sections how a whole text falls into sections. As a ParseObserver it hears every
// line of every section (section_line, then section_ended), and what the parser does with the
// lines of each section it has parsed. The line that ends a section by starting the next is
// announced as that section's line, then as a header.
class SectionWalker : public ParseObserver
{
public:
  // A line that starts a section. config_id is the line up to its first "]", empty when it has
  // none; selected_line is the line of the header that parse_section selects for config_id: this
  // one for the first header with it, an earlier one for a repeat, 0 when config_id is empty.
  // Returns the record the section's lines are parsed into, with the same reports as
  // parse_section makes (section_selected first), or NULL to have them walked unparsed.
  virtual Configuration *section_header (std::size_t line_number, std::string_view header,
                                         std::string_view config_id, std::size_t selected_line)
      = 0;
  // A line outside every section: before the first header, or after the empty line that ended
  // one, up to the next header.
  virtual void outside_line (std::size_t /* line_number */, std::string_view /* line */) {}
};

// Walks every section of text in one pass, in file order, telling walker of each line: a machine
// whose config-id is a header's config-id reads what walker is told for the header selected.
void walk_sections (std::string_view text, const HostFacts &host, SectionWalker &walker);
