#pragma once

#include "time/Instant.h"

namespace vardelle {

// Where core classes read the current time, so that tests can set it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;

    // The wall clock; lives for the whole process.
    static const Clock& system();
};

} // namespace vardelle
