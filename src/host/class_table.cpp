#include "host/class_table.h"

#include <map>
#include <mutex>

#include "common/errors.h"

namespace kvt::automation {
namespace {

struct ClassTable {
    std::mutex mutex;
    std::map<std::string, Factory, std::less<>> factories;
};

ClassTable& table() {
    static ClassTable instance;
    return instance;
}

}  // namespace

std::shared_ptr<Object> createRegistered(std::string_view classId) {
    Factory factory;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        const auto it = t.factories.find(classId);
        if (it == t.factories.end()) {
            return nullptr;
        }
        factory = it->second;
    }
    auto object = factory();
    if (!object) {
        throw Error("Impossibile creare l'oggetto " + std::string(classId));
    }
    return object;
}

Factory registerClass(std::string classId, Factory factory) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    Factory previous;
    auto it = t.factories.find(classId);
    if (it != t.factories.end()) {
        previous = std::move(it->second);
        if (factory) {
            it->second = std::move(factory);
        } else {
            t.factories.erase(it);
        }
    } else if (factory) {
        t.factories.emplace(std::move(classId), std::move(factory));
    }
    return previous;
}

}  // namespace kvt::automation
