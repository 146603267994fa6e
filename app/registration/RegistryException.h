// The failure of a registry read or write, shared by the file-type lookups and the
// registrator client (which reads the service's port from the registry).
#pragma once

#include "imaging/Error.h"

namespace vantrel {

// A registry value that is not of the kind the program expects, or a registry write that
// failed. The message names the key and the value.
class ERegistryException : public Error {
public:
    using Error::Error;
};

}  // namespace vantrel
