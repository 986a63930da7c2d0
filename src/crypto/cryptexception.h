#pragma once

#include <exception>
#include <string>

// The one error type of the crypto layer: a readable text naming what failed.
// Callers catch it right where they call into the layer.
class crypt_exception : public std::exception
{
public:
    explicit crypt_exception(std::string text) : text(std::move(text)) {}
    ~crypt_exception() override = default;

    const char *what() const noexcept override { return text.c_str(); }

private:
    std::string text;
};
