// SPDX-License-Identifier: LGPL-2.1-or-later
// SPDX-FileCopyrightText: 2026 The kiv authors
// text.h: how kiv-config-lint shows text from a file or the command line. A configuration file
// or a URL may hold bytes a terminal obeys (ESC sets its title, a C1 CSI moves the cursor, a bidi
// override reorders what is shown), so every text shown passes through here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <glib.h>

// The length of the character text starts with: a byte that starts no valid UTF-8 character
// counts as one.
std::size_t character_length (std::string_view text);

// Whether a terminal would obey the character or show it misleadingly: a C0 or C1 control,
// DEL, or a mark that changes the direction of the text around it (U+061C, U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069).
bool is_unsafe_character (gunichar character);

// Text from the file, fit for a one-line message: valid UTF-8 and printable ASCII stay, unsafe
// characters, quotes, backslashes and invalid bytes are escaped as in C ("\t", "\x1b", "\u202e").
std::string escaped (std::string_view text);

// Text fit for a terminal that keeps everything else as it was: the same escapes for unsafe
// characters and invalid bytes, but quotes and backslashes stay, and, when tabs_stay, tabs too.
std::string terminal_text (std::string_view text, bool tabs_stay = false);

// JSON text with every unsafe character that JSON lets through raw written as \uXXXX, the same
// document to any reader.
std::string json_terminal_safe (std::string_view json);

// The column a character at byte offset `at` of line starts in, as GCC counts columns by default:
// display columns from 1, a tab moving to the next multiple of 8, a wide East Asian character
// counting 2, a combining mark 0 and anything else, an invalid byte too, 1.
std::size_t display_column (std::string_view line, std::size_t at);

// The width on a terminal of a character a line starts with, at display column `column`.
std::size_t display_width (std::string_view character, std::size_t column);

// Whether a and b are the same text, ASCII letters compared without their case.
bool is_same_ignoring_case (std::string_view a, std::string_view b);

// The number of single-character edits (a transposition counting one) that turn a into b.
std::size_t edit_distance (std::string_view a, std::string_view b);
