// Trusted root certificates of the system certificate store for TLS contexts.
//
// AddWindowsRootCerts gives a Boost.Asio TLS context a new certificate store
// holding every certificate of the system's "ROOT" store (on this platform
// the trusted-root bundle; see platform/crypt/Crypt.h).  The new store replaces the
// context's store and whatever verification paths were loaded into it before.
//
// Failure: reports nothing.  When the system store cannot be opened (or no
// certificate store can be made), the context is left unchanged; certificates
// that do not decode, and duplicates, are skipped.
//
// Threads: AddWindowsRootCerts may be called from any thread, but needs the
// context to itself: no connection may be made from the context meanwhile.
#pragma once

#include "VLibExport.h"

namespace boost::asio::ssl {
class context;
}

namespace VTools::Ssl {

VLIB_API void AddWindowsRootCerts(boost::asio::ssl::context& context);

}  // namespace VTools::Ssl
