// The WMI steps the two WMI sources share. Every failing COM result is thrown
// as ComError; the source that uses them catches it as a whole.
#pragma once

#include "com_support.h"

#include <string>

namespace quillon::identity {

// A fresh connection to ROOT\CIMV2 with the proxy blanket the queries need.
ComRef<IWbemServices> connectCimv2();

// The property of the last row the query yields; empty when it yields none
// (and when that row's value is empty).
std::string queryLastValue(IWbemServices& services, const std::string& query, const std::string& property);

// One property of a row as narrow text: null gives empty text, other types
// than text are converted (a failing conversion gives empty text), and each
// UTF-16 unit up to the first zero becomes its low 8 bits.
std::string readWmiProperty(IWbemClassObject& row, const std::string& property);

} // namespace quillon::identity
