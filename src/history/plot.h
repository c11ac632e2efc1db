// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The plot library's header spells two of Qt's keyword macros, which this
// program otherwise goes without.
#define signals Q_SIGNALS
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef signals
#undef foreach
