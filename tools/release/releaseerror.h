#pragma once

#include <QString>

#include <stdexcept>

// A failure that ends the command: bad input or a failed operation, with a
// text for the release engineer.
class ReleaseError final : public std::runtime_error
{
public:
    explicit ReleaseError(const QString &text)
        : std::runtime_error(text.toStdString()), text(text)
    {
    }

    const QString &message() const { return text; }

private:
    QString text;
};
