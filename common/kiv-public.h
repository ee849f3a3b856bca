/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* SPDX-FileCopyrightText: 2026 The kiv authors */
/* kiv-public.h: marks the functions the kiv libraries export.
 * Everything else is built with hidden visibility, so a symbol without this mark cannot be
 * linked against from outside the library it lives in. */
#pragma once

#if defined(__GNUC__)
#define KIV_PUBLIC __attribute__ ((visibility ("default")))
#else
#define KIV_PUBLIC
#endif
