#include "fuzzentry.h"

#include <QCoreApplication>

#include <memory>

namespace fuzzing {

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "sonvira-fuzz";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace fuzzing
