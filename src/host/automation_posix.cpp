// Automation on POSIX: classes live in this process, in the table filled by
// the parts that provide them (the host stand-in registers "Vellodoc.Server").
#include "common/errors.h"
#include "host/automation.h"
#include "host/class_table.h"

namespace kvt::automation {

std::shared_ptr<Object> createObject(std::string_view classId) {
    if (auto object = createRegistered(classId)) {
        return object;
    }
    throw Error("Stringa di classe non valida: " + std::string(classId));
}

}  // namespace kvt::automation
