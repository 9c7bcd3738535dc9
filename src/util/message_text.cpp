#include "util/message_text.h"

#include <windows.h>

#include <cstdio>

#include "util/handles.h"
#include "util/text.h"

namespace {

struct CodeText {
  long code;
  const char* text;
};

const CodeText kTable[] = {
    {1508, "The requested operation is successful. Changes will not be effective until the browser is rebooted."},
    {10001, "rz.db.agent.config.script.powerscript_notfound"},
    {10002, "rz.db.agent.config.run_as_admin.credentials_not_available"},
    {10003, "rz.db.agent.config.returned_zero_failure"},
    {17021, "OfficeUpdateError: Creating temp folder."},
    {17023, "OfficeUpdateError: User cancelled installation."},
    {17024, "OfficeUpdateError: Creating folder failed."},
    {17025, "OfficeUpdateError: Patch already installed."},
    {17026, "OfficeUpdateError: Patch already installed to admin installation."},
    {17027, "OfficeUpdateError: Installation source requires full file update."},
    {17028, "OfficeUpdateError: No product installed for contained patch."},
    {17029, "OfficeUpdateError: Patch failed to install."},
    {17030, "OfficeUpdateError: Invalid CIF format."},
    {17031, "OfficeUpdateError: Invalid baseline."},
    {17034, "OfficeUpdateError: Required patch does not apply to the machine."},
    {17038,
     "OfficeUpdateError: You do not have sufficient privileges to complete this installation for all users of the "
     "machine. Log on as administrator and then retry this installation."},
    {17044, "OfficeUpdateError: Installer was unable to run detection for this package."},
    {17048, "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater."},
    {17301, "OfficeUpdateError: General Detection error"},
    {17302, "OfficeUpdateError: Applying patch."},
    {17303, "OfficeUpdateError: Extracting file."},
    {20001, "Patch update delayed since application is used by another process"},
    {2359302, "Patch already Installed and the changes will not be effective until the system is rebooted."},
    {2359303, "Patch already Uninstalled and the changes will not be effective until the system is rebooted."},
};

std::string SystemMessageText(long code) {
  LocalBuffer buffer;
  // With ALLOCATE_BUFFER the "buffer" argument is where the call stores the
  // address of the text it allocated.
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPWSTR>(buffer.PutAs<wchar_t>()), 0, nullptr);
  if (length == 0 || !buffer) return std::string();
  std::wstring text(buffer.As<wchar_t>(), length);
  // One line: inner line breaks become blanks, trailing ones and blanks go.
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return ChangeWideToUtf8Str(text.c_str());
}

}  // namespace

std::string ErrorTextFromTable(long code) {
  for (const CodeText& entry : kTable) {
    if (entry.code == code) return entry.text;
  }
  return std::string();
}

std::string GetErrorMessageTextQuiet(long code) {
  std::string text = SystemMessageText(code);
  if (text.empty()) text = ErrorTextFromTable(code);
  if (text.empty()) {
    char fallback[64];
    snprintf(fallback, sizeof(fallback), "Unknown Error. Code : %ld", code);
    text = fallback;
  }
  return text;
}
