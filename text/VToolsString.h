// Everything of namespace VTools::String: the conversions between wide, ANSI
// and UTF-8 strings, and the string utilities.
#pragma once

#include "text/StringConversion.h"
#include "text/StringUtils.h"
