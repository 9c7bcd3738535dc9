#include "transport/http_errors.h"

#include "exec/error_text.h"
#include "log/agent_log.h"

namespace {

// The description alone: every text is "HttpGetLastError: " + it + "\n".
struct HttpErrorRow {
  long code;
  const char* text;
};

// WinHTTP shares its code range with WinINet: the rows for codes WinHTTP
// itself never defined (12003, 12008, 12010, ...) carry WinINet's meaning of
// the number, and the rows for codes it now documents only as obsolete carry
// the meaning of their constant. 12035 has no constant in either.
const HttpErrorRow kRows[] = {
    {12001, "No more handles could be generated at this time."},
    {12002, "The request has timed out."},
    {12003, "An extended error was returned from the server."},
    {12004, "An internal error has occurred."},
    {12005, "The URL is not valid."},
    {12006, "The URL specified a scheme other than \"http:\" or \"https:\"."},
    {12007, "The server name could not be resolved."},
    {12008, "The requested protocol could not be located."},
    {12009, "A request to WinHttpQueryOption or WinHttpSetOption specified an invalid option value."},
    {12010, "The length of an option supplied is incorrect for the type of option specified."},
    {12011, "The requested option cannot be set, only queried."},
    {12012, "The WinHTTP function support is being shut down or unloaded."},
    {12013, "The request to connect and log on to a server could not be completed because the supplied user name is "
            "incorrect."},
    {12014, "The request to connect and log on to a server could not be completed because the supplied password is "
            "incorrect."},
    {12015, "The login attempt failed."},
    {12016, "The requested operation is invalid."},
    {12017, "The operation was canceled, usually because the handle on which the request was operating was closed "
            "before the operation completed."},
    {12018, "The type of handle supplied is incorrect for this operation."},
    {12019, "The requested operation cannot be carried out because the handle supplied is not in the correct state."},
    {12020, "The request cannot be made via a proxy."},
    {12021, "A required registry value could not be located."},
    {12022, "A required registry value was located but is an incorrect type or has an invalid value."},
    {12023, "Direct network access cannot be made at this time."},
    {12024, "An asynchronous request could not be made because a zero context value was supplied."},
    {12025, "An asynchronous request could not be made because a callback function has not been set."},
    {12026, "The required operation could not be completed because one or more requests are pending."},
    {12027, "The format of the request is invalid."},
    {12028, "The requested item could not be located."},
    {12029, "The attempt to connect to the server failed."},
    {12030, "The connection with the server has been terminated or an incompatible SSL protocol was encountered ."},
    {12031, "The connection with the server has been reset."},
    {12032, "The WinHTTP function failed. The desired function can be retried on the same request handle "},
    {12033, "The request to the proxy was invalid."},
    {12034, "A user interface or other blocking operation has been requested."},
    {12035, "The WinHTTP function failed with an undefined error code."},
    {12036, "The request failed because the handle already exists."},
    {12037, "Indicates that a required certificate is not within its validity period when verifying against the "
            "current system clock or the timestamp in the signed file, or that the validity periods of the "
            "certification chain do not nest correctly (equivalent to a CERT_E_EXPIRED or a "
            "CERT_E_VALIDITYPERIODNESTING error)."},
    {12038, "Returned when a certificate CN name does not match the passed value (equivalent to a CERT_E_CN_NO_MATCH "
            "error)."},
    {12039, "The application is moving from a non-SSL to an SSL connection because of a redirect."},
    {12040, "The application is moving from an SSL to an non-SSL connection because of a redirect."},
    {12041, "The content is not entirely secure. Some of the content being viewed may have come from unsecured "
            "servers."},
    {12042, "The application is posting and attempting to change multiple lines of text on a server that is not "
            "secure."},
    {12043, "The application is posting data to a server that is not secure."},
    {12044, "Returned by WinHttpReceiveResponse when the server requests client authentication."},
    {12045, "Indicates that a certificate chain was processed, but terminated in a root certificate that is not "
            "trusted by the trust provider (equivalent to CERT_E_UNTRUSTEDROOT). "},
    {12046, "Client authorization is not set up on this computer."},
    {12057, "Indicates that revocation cannot be checked because the revocation server was offline (equivalent to "
            "CRYPT_E_REVOCATION_OFFLINE)."},
    {12100, "Returned by the HttpRequest object if a requested operation cannot be performed before calling the Open "
            "method."},
    {12101, "Returned by the HttpRequest object if a requested operation cannot be performed before calling the Send "
            "method."},
    {12102, "Returned by the HttpRequest object if a requested operation cannot be performed after calling the Send "
            "method."},
    {12103, "Returned by the HttpRequest object if a specified option cannot be requested after the Open method has "
            "been called."},
    {12150, "The requested header could not be located. "},
    {12151, "The server did not return any headers."},
    {12152, "The server response cannot be parsed."},
    {12153, "The supplied header is invalid."},
    {12154, "The request made to WinHttpQueryHeaders is invalid."},
    {12155, "The header could not be added because it already exists."},
    {12156, "The redirection failed because either the scheme changed or all attempts made to redirect failed (default "
            "is five attempts)."},
    {12157, "Indicates that an error occurred having to do with a secure channel (equivalent to error codes that begin "
            "with \"SEC_E_\" and \"SEC_I_\" listed in the \"winerror.h\" header file)."},
    {12158, "The function was unable to cache the file."},
    {12159, "The required protocol stack is not loaded and the application cannot start WinSock."},
    {12166, "An error occurred executing the script code in the Proxy Auto-Configuration (PAC) file."},
    {12167, "The PAC file cannot be downloaded. For example, the server referenced by the PAC URL may not have been "
            "reachable, or the server returned a 404 NOT FOUND response."},
    {12169, "Indicates that a certificate is invalid (equivalent to errors such as CERT_E_ROLE, CERT_E_PATHLENCONST, "
            "CERT_E_CRITICAL, CERT_E_PURPOSE, CERT_E_ISSUERCHAINING, CERT_E_MALFORMED and CERT_E_CHAINING)."},
    {12170, "Indicates that a certificate has been revoked (equivalent to CRYPT_E_REVOKED)."},
    {12172, "Initialization of the WinHTTP API has not occurred."},
    {12175, "One or more errors were found in the Secure Sockets Layer (SSL) certificate sent by the server ."},
    {12178, "Returned by WinHttpGetProxyForUrl when a proxy for the specified URL cannot be located."},
    {12179, "Indicates that a certificate is not valid for the requested usage (equivalent to CERT_E_WRONG_USAGE)."},
    {12180, "Returned by WinHttpDetectAutoProxyConfigUrl if WinHTTP was unable to discover the URL of the Proxy "
            "Auto-Configuration (PAC) file."},
    {12181, "Returned by WinHttpReceiveResponse when a larger number of headers were present in a response than "
            "WinHTTP could receive."},
    {12182, "Returned by WinHttpReceiveResponse when the size of headers received exceeds the limit for the request "
            "handle."},
    {12183, "Returned by WinHttpReceiveResponse when an overflow condition is encountered in the course of parsing "
            "chunked encoding."},
    // The drain overflow has always been reported like the resend request.
    {12184, "The WinHTTP function failed. The desired function can be retried on the same request handle "},
};

}  // namespace

std::string HttpErrorTextFromTable(long code) {
  for (const HttpErrorRow& row : kRows) {
    if (row.code == code) return std::string("HttpGetLastError: ") + row.text + "\n";
  }
  return std::string();
}

std::string HttpGetLastError(long code) {
  std::string text = HttpErrorTextFromTable(code);
  if (text.empty()) return GetErrorMessageText(code);
  LogError("%s", text.c_str());
  return text;
}
