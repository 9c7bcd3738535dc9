// Hardware facts that identify this machine to the management server: the
// system UUID and the vendor's service tag, both read through WMI.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs a WQL query in root\cimv2 and reads `property` of every object it
// returns; the last object's value wins, cut to 259 characters. Returns 0 or
// the failing COM/WMI code (an HRESULT). `value` is set only when an object
// gave a value: a query without objects, or whose objects hold a null
// property, returns 0 and leaves it alone.
// Any thread may call. The call releases one COM initialisation the thread
// holds, enters the multithreaded apartment and leaves it again at the end.
long GetValuesUsingWMIQuery(std::optional<std::wstring>* value, const wchar_t* query, const wchar_t* property);

// The system UUID as UTF-8; empty when WMI gave none. Returns the query code.
long GetLocalMachineUUID(std::string* uuid);

// The service tag as UTF-8: the first non-empty value of the product's
// identifying number, the BIOS, enclosure and base board serial numbers.
// Empty when none has one; the code is then that of the last query.
long GetLocalMachineServiceTag(std::string* serviceTag);

// --- pure pieces, exposed for tests ---
struct WmiQueryOutcome {
  long code = 0;
  std::optional<std::wstring> value;
};
struct ServiceTagChoice {
  long code = 0;
  std::wstring value;
  int source = -1;  // index of the source that gave the value; -1 for none
};
// Applies the source order to the outcomes of the sources queried so far.
ServiceTagChoice ChooseServiceTag(const std::vector<WmiQueryOutcome>& outcomes);
