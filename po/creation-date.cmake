# SPDX-License-Identifier: LGPL-2.1-or-later
# SPDX-FileCopyrightText: 2026 The kiv authors
# cmake -DPOT=FILE -P creation-date.cmake: turns FILE.extracted, as xgettext wrote it, into FILE
# with a creation date that does not come from the clock, so that two builds of the same sources
# install the same template. Package builds set SOURCE_DATE_EPOCH (the date of their last
# change), which string(TIMESTAMP) honours; elsewhere the date stays gettext's placeholder.
file(READ "${POT}.extracted" text)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP date "%Y-%m-%d %H:%M+0000" UTC)
else()
  set(date "YEAR-MO-DA HO:MI+ZONE")
endif()
string(REGEX MATCH [["POT-Creation-Date: [^"]*"]] line "${text}")
string(REPLACE "${line}" "\"POT-Creation-Date: ${date}\\n\"" text "${text}")
file(WRITE "${POT}" "${text}")
file(REMOVE "${POT}.extracted")
