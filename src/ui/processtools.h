#pragma once

// Starting the client once the update has put it in place.
class ProcessTools final
{
public:
    // Starts the client's start script from the installation directory as a
    // detached process without arguments, in the updater's working
    // directory. Whether the start succeeded is not examined: the updater
    // closes either way.
    static void startHvxClient();

private:
    ProcessTools() = delete;
};
