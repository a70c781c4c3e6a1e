// Environment and its type Map: the object that makes connections and
// knows the classes registered for object types.
#include "session.h"

#include <cctype>

namespace oracle {
namespace occi {
namespace embedded {

// ---------------------------------------------------------------- type map

void MapImpl::put(const std::string& typeName, void* (*rSQL)(void*), void (*wSQL)(void*, void*)) {
    std::string name = typeName;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t dot = name.find('.');
    if (dot == std::string::npos) store("", name, rSQL, wSQL);
    else store(name.substr(0, dot), name.substr(dot + 1), rSQL, wSQL);
}

void MapImpl::put(const std::string& schemaName, const std::string& typeName, void* (*rSQL)(void*),
                 void (*wSQL)(void*, void*)) {
    std::string s = schemaName, t = typeName;
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    store(s, t, rSQL, wSQL);
}

const MapImpl::Entry* MapImpl::find(const std::string& schema, const std::string& type) const {
    for (const Entry& e : entries_)
        if (e.type == type && (e.schema == schema || e.schema.empty())) return &e;
    return nullptr;
}

const MapImpl::Entry* MapImpl::findRead(void* (*rSQL)(void*)) const {
    for (const Entry& e : entries_)
        if (e.read == rSQL) return &e;
    return nullptr;
}

void MapImpl::store(const std::string& s, const std::string& t, void* (*r)(void*), void (*w)(void*, void*)) {
    for (Entry& e : entries_)
        if (e.schema == s && e.type == t) {
            e.read = r;
            e.write = w;
            return;
        }
    entries_.push_back(Entry{s, t, r, w});
}

// ---------------------------------------------------------------- environment

Map* EnvironmentImpl::getMap() const { return const_cast<MapImpl*>(&map_); }

const MapImpl& EnvironmentImpl::map() const { return map_; }

void EnvironmentImpl::adopt(Connection* c) { connections_.insert(c); }

Connection* EnvironmentImpl::createConnection(const std::string& userName, const std::string& password,
                                              const std::string& connectString) {
    if (connectString.empty() || !isDirectory(connectString))
        raise(12154, "TNS:could not resolve the connect identifier specified");
    std::string user = userName;
    for (char& c : user) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!validSchemaName(user) || user == "MDSYS") raise(1017, "invalid username/password; logon denied");
    ConnectionImpl* c = new ConnectionImpl(this, connectString, user, false);
    try {
        c->open(password);
    } catch (...) {
        delete c;
        throw;
    }
    adopt(c);
    return c;
}

void EnvironmentImpl::terminateConnection(Connection* connection) {
    if (connections_.erase(connection)) delete static_cast<ConnectionImpl*>(connection);
}

EnvironmentImpl::~EnvironmentImpl() {
    for (Connection* c : connections_) delete static_cast<ConnectionImpl*>(c);
}

bool lookupTypeName(Environment* env, void* (*rSQL)(void*), const std::string*& schema,
                    const std::string*& type) {
    if (!env) return false;
    const MapImpl* map = dynamic_cast<const MapImpl*>(env->getMap());
    if (!map) return false;
    const MapImpl::Entry* e = map->findRead(rSQL);
    if (!e) return false;
    schema = &e->schema;
    type = &e->type;
    return true;
}

}  // namespace embedded

// ---------------------------------------------------------------- Environment statics

Environment* Environment::createEnvironment(Mode /*mode*/, void* /*ctxp*/, void* (*)(void*, size_t),
                                            void* (*)(void*, void*, size_t), void (*)(void*, void*)) {
    return new embedded::EnvironmentImpl();
}

Environment* Environment::createEnvironment(const std::string& /*charset*/, const std::string& /*ncharset*/,
                                            Mode mode, void* ctxp, void* (*malocfp)(void*, size_t),
                                            void* (*ralocfp)(void*, void*, size_t),
                                            void (*mfreefp)(void*, void*)) {
    return createEnvironment(mode, ctxp, malocfp, ralocfp, mfreefp);
}

void Environment::terminateEnvironment(Environment* env) { delete env; }

}  // namespace occi
}  // namespace oracle
