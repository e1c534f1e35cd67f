#pragma once

#include <QString>
#include <stdexcept>

namespace platform {

// Run-time error numbers the behaviour relies on, as the original runtime numbers them.
namespace err {
constexpr int kInvalidProcedureCall = 5;
constexpr int kOverflow = 6;
constexpr int kSubscriptOutOfRange = 9;
constexpr int kFileNotFound = 53;
constexpr int kPermissionDenied = 70;
constexpr int kPathNotFound = 76;
constexpr int kControlArrayElementMissing = 340;
constexpr int kObjectAlreadyLoaded = 360;
constexpr int kInvalidPicture = 481;
constexpr int kCannotCreateObject = 429;
constexpr int kObjectRequired = 424;
constexpr int kAutomationError = 1004;  // an error raised by the automation server itself
}  // namespace err

// The one error type that statements raise and traps report: a number and the description the
// user reads in the error report.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description) {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

}  // namespace platform
