#pragma once

// The question put to the user when the latest-version query has failed:
// query again, or give up. The entry point hands ask() to the configuration,
// which keeps no widgets of its own.
class LatestVersionRetryBox final
{
public:
    // Shows the box modally, without parent; true when the user chose Retry.
    // Abort, or closing the box, gives false.
    static bool ask();

private:
    LatestVersionRetryBox() = delete;
};
