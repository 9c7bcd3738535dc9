#include "transport/http_errors.h"

#include <gtest/gtest.h>

#include "util/message_text.h"

TEST(HttpErrors, TellingRowsAndTheSystemTextOutsideTheTable) {
  struct Row {
    long code;
    const char* text;
  } rows[] = {
      {12002, "HttpGetLastError: The request has timed out.\n"},
      {12029, "HttpGetLastError: The attempt to connect to the server failed.\n"},
      {12030, "HttpGetLastError: The connection with the server has been terminated or an incompatible SSL protocol "
              "was encountered .\n"},
      {12032, "HttpGetLastError: The WinHTTP function failed. The desired function can be retried on the same "
              "request handle \n"},
      {12184, "HttpGetLastError: The WinHTTP function failed. The desired function can be retried on the same "
              "request handle \n"},
      {12045, "HttpGetLastError: Indicates that a certificate chain was processed, but terminated in a root "
              "certificate that is not trusted by the trust provider (equivalent to CERT_E_UNTRUSTEDROOT). \n"},
      {12150, "HttpGetLastError: The requested header could not be located. \n"},
      {12175, "HttpGetLastError: One or more errors were found in the Secure Sockets Layer (SSL) certificate sent by "
              "the server .\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(HttpGetLastError(row.code), row.text) << row.code;
  // Neighbours of the table's ranges, a socket error and a file error.
  for (long code : {12000L, 12047L, 12056L, 12168L, 12185L, 10060L, 2L}) {
    EXPECT_EQ(HttpErrorTextFromTable(code), "") << code;
    EXPECT_EQ(HttpGetLastError(code), GetErrorMessageTextQuiet(code)) << code;
  }
}

TEST(HttpErrors, EveryListedCodeHasAText) {
  const long ranges[][2] = {{12001, 12046}, {12057, 12057}, {12100, 12103}, {12150, 12159}, {12166, 12167},
                            {12169, 12170}, {12172, 12172}, {12175, 12175}, {12178, 12184}};
  for (const auto& range : ranges) {
    for (long code = range[0]; code <= range[1]; ++code) {
      std::string text = HttpErrorTextFromTable(code);
      EXPECT_TRUE(text.rfind("HttpGetLastError: ", 0) == 0 && text.size() > 20 && text.back() == '\n') << code;
    }
  }
}
