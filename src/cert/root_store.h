// The local machine's "Trusted Root Certification Authorities" store, as the
// agent's root certificates need it: add one from a file, delete one by name.
#pragma once

// A certificate file that is empty, too large or holds no certificate.
const int kCertificateFileUnreadable = 13;

// Adds the certificate in the file (DER, or PEM/Base64 text) to the local
// machine's root store, replacing an identical one. 0 on success; the system
// error when the file cannot be read (2, 3, 5, ...);
// kCertificateFileUnreadable when it holds no certificate; otherwise the
// store's error. Nothing is added on failure.
int AddCertificateFileToRootStore(const char* path);

// Reads and decodes the file without touching the store: the same results as
// AddCertificateFileToRootStore for a file that cannot be installed, else 0.
int CheckCertificateFile(const char* path);

// Deletes every certificate of the local machine's root store whose subject
// common name equals `name` (any case). The whole name must match, so
// "KestrixCA" never takes "KestrixCA-DS-CA" with it. 0 when at least one was
// deleted, 1168 (ERROR_NOT_FOUND) when none has that name, else the store's
// error.
int DeleteCertificateFromRootStore(const char* name);

