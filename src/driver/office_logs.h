// Collection of Office's setup logs after a failed installation attempt.
#pragma once

// Copies this attempt's Office setup logs from C:\Windows\Temp into
// "<agent>\logs\<file-name number>" and logs their error entries.
void CollectOfficeLogs();
