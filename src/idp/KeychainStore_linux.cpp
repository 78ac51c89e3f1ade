#include "base/LoadedLibrary_linux.h"
#include "idp/KeychainStore.h"

#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <libsecret/secret.h>
#include <map>
#include <mutex>
#include <thread>

namespace quorvel::idp {

namespace {

// The Secret Service client's functions, loaded with the first keyring call rather than with this
// library: a host app that never signs in does not load it.
struct SecretLibrary {
    SecretValue* (*lookup)(const SecretSchema*, GHashTable*, GCancellable*, GError**);
    gboolean (*store)(const SecretSchema*, GHashTable*, const gchar*, const gchar*, SecretValue*,
                      GCancellable*, GError**);
    gboolean (*clear)(const SecretSchema*, GHashTable*, GCancellable*, GError**);
    GList* (*search)(SecretService*, const SecretSchema*, GHashTable*, SecretSearchFlags,
                     GCancellable*, GError**);
    gboolean (*itemLocked)(SecretItem*);
    SecretValue* (*valueNew)(const gchar*, gssize, const gchar*);
    const gchar* (*valueGet)(SecretValue*, gsize*);
    void (*valueUnref)(gpointer);
};

// Once per process; nothing, then and on every later call, when it cannot be loaded.
const SecretLibrary* secretLibrary() {
    static const SecretLibrary* loaded = []() -> const SecretLibrary* {
        void* library = ::dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        static SecretLibrary secret{};
        const bool ok =
            resolveSymbol(library, "secret_password_lookupv_binary_sync", secret.lookup) &&
            resolveSymbol(library, "secret_password_storev_binary_sync", secret.store) &&
            resolveSymbol(library, "secret_password_clearv_sync", secret.clear) &&
            resolveSymbol(library, "secret_service_search_sync", secret.search) &&
            resolveSymbol(library, "secret_item_get_locked", secret.itemLocked) &&
            resolveSymbol(library, "secret_value_new", secret.valueNew) &&
            resolveSymbol(library, "secret_value_get", secret.valueGet) &&
            resolveSymbol(library, "secret_value_unref", secret.valueUnref);
        return ok ? &secret : nullptr; // kept loaded: its types stay registered with GObject
    }();
    return loaded;
}

StorageError secretLibraryMissing() {
    return StorageError("Secret Service unavailable: libsecret-1.so.0 could not be loaded");
}

const SecretSchema* itemSchema() {
    static const SecretSchema schema = [] {
        SecretSchema value{};
        value.name = "com.quorvel.GenericPassword";
        value.flags = SECRET_SCHEMA_NONE;
        value.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[2] = {"access-group", SECRET_SCHEMA_ATTRIBUTE_STRING};
        value.attributes[3] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return value;
    }();
    return &schema;
}

// Cancels keyring calls that outlive their time limit. One thread for the process, started with
// the first call and blocked while no call is running.
class Watchdog {
public:
    static Watchdog& shared() {
        static auto* watchdog = new Watchdog(); // kept for the life of the process
        return *watchdog;
    }

    std::uint64_t arm(GCancellable* cancellable, std::chrono::steady_clock::time_point deadline) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            std::thread([this] { run(); }).detach();
            started_ = true;
        }
        std::uint64_t id = ++lastId_;
        entries_[id] = {static_cast<GCancellable*>(g_object_ref(cancellable)), deadline};
        wake_.notify_one();
        return id;
    }

    void disarm(std::uint64_t id) {
        GCancellable* cancellable = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto found = entries_.find(id);
            if (found == entries_.end())
                return;
            cancellable = found->second.cancellable;
            entries_.erase(found);
        }
        g_object_unref(cancellable);
    }

private:
    struct Entry {
        GCancellable* cancellable;
        std::chrono::steady_clock::time_point deadline;
    };

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto earliest = entries_.begin();
            for (auto it = entries_.begin(); it != entries_.end(); ++it) {
                if (it->second.deadline < earliest->second.deadline)
                    earliest = it;
            }
            if (auto deadline = earliest->second.deadline;
                std::chrono::steady_clock::now() < deadline) {
                // A copy: the entry may be disarmed (erased) while this waits.
                wake_.wait_until(lock, deadline);
                continue;
            }
            GCancellable* cancellable = earliest->second.cancellable;
            entries_.erase(earliest);
            lock.unlock();
            g_cancellable_cancel(cancellable);
            g_object_unref(cancellable);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Entry> entries_;
    std::uint64_t lastId_ = 0;
    bool started_ = false;
};

// One keyring call: a cancellable armed with the time limit for its duration.
class BoundedCall {
public:
    explicit BoundedCall(std::chrono::milliseconds timeout) : cancellable_(g_cancellable_new()) {
        id_ = Watchdog::shared().arm(cancellable_, std::chrono::steady_clock::now() + timeout);
    }
    ~BoundedCall() {
        Watchdog::shared().disarm(id_);
        g_object_unref(cancellable_);
    }
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;

    GCancellable* cancellable() const { return cancellable_; }
    bool timedOut() const { return g_cancellable_is_cancelled(cancellable_); }

private:
    GCancellable* cancellable_;
    std::uint64_t id_ = 0;
};

struct Attributes {
    GHashTable* table;
    Attributes(const std::string& service, const std::string& account,
               const std::optional<std::string>& group)
        : table(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table, const_cast<char*>("service"),
                            const_cast<char*>(service.c_str()));
        g_hash_table_insert(table, const_cast<char*>("account"),
                            const_cast<char*>(account.c_str()));
        if (group)
            g_hash_table_insert(table, const_cast<char*>("access-group"),
                                const_cast<char*>(group->c_str()));
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
};

StorageError storageError(const char* operation, GError* error, const BoundedCall& call,
                          std::chrono::milliseconds timeout) {
    std::string text = std::string("Secret Service ") + operation + " failed: ";
    if (call.timedOut()) {
        text += "no answer within " + std::to_string(timeout.count()) + " ms";
    } else {
        text += error && error->message ? error->message : "unknown error";
    }
    if (error)
        g_error_free(error);
    return StorageError(std::move(text));
}

// After a delete that removed nothing: false when no matching item exists, the error when one
// is left (a locked one: the search neither unlocks nor prompts).
Expected<bool, StorageError> itemStillThere(GHashTable* attributes, const BoundedCall& call,
                                            std::chrono::milliseconds timeout) {
    const SecretLibrary* secret = secretLibrary(); // loaded by the delete that came first
    GError* error = nullptr;
    GList* items = secret->search(nullptr, itemSchema(), attributes, SECRET_SEARCH_ALL,
                                  call.cancellable(), &error);
    if (error || (!items && call.timedOut()))
        return unexpected(storageError("delete", error, call, timeout));
    if (!items)
        return false;
    bool locked = false;
    for (GList* item = items; item; item = item->next)
        locked = locked || secret->itemLocked(static_cast<SecretItem*>(item->data));
    g_list_free_full(items, g_object_unref);
    return unexpected(StorageError(locked
                                       ? "Secret Service delete failed: the item is locked"
                                       : "Secret Service delete failed: the item is still there"));
}

} // namespace

KeychainStore::KeychainStore(std::string service, Options options)
    : service_(std::move(service)), options_(std::move(options)) {}

Expected<std::optional<Bytes>, StorageError> KeychainStore::getEntry(const std::string& key) {
    const SecretLibrary* secret = secretLibrary();
    if (!secret)
        return unexpected(secretLibraryMissing());
    Attributes attributes(service_, key, options_.accessGroup);
    BoundedCall call(options_.timeout);
    GError* error = nullptr;
    SecretValue* value = secret->lookup(itemSchema(), attributes.table, call.cancellable(), &error);
    if (error || (!value && call.timedOut())) {
        return unexpected(storageError("lookup", error, call, options_.timeout));
    }
    if (!value)
        return std::optional<Bytes>();
    gsize length = 0;
    const gchar* data = secret->valueGet(value, &length);
    Bytes bytes(reinterpret_cast<const std::uint8_t*>(data),
                reinterpret_cast<const std::uint8_t*>(data) + length);
    secret->valueUnref(value);
    return std::optional<Bytes>(std::move(bytes));
}

Expected<void, StorageError> KeychainStore::setEntry(const Bytes& data, const std::string& key) {
    const SecretLibrary* secret = secretLibrary();
    if (!secret)
        return unexpected(secretLibraryMissing());
    Attributes attributes(service_, key, options_.accessGroup);
    BoundedCall call(options_.timeout);
    const gchar* bytes = data.empty() ? "" : reinterpret_cast<const gchar*>(data.data());
    SecretValue* value =
        secret->valueNew(bytes, static_cast<gssize>(data.size()), "application/octet-stream");
    std::string label = service_ + " (" + key + ")";
    GError* error = nullptr;
    gboolean stored = secret->store(itemSchema(), attributes.table, SECRET_COLLECTION_DEFAULT,
                                    label.c_str(), value, call.cancellable(), &error);
    secret->valueUnref(value);
    if (!stored || error)
        return unexpected(storageError("store", error, call, options_.timeout));
    return {};
}

Expected<bool, StorageError> KeychainStore::deleteEntry(const std::string& key) {
    const SecretLibrary* secret = secretLibrary();
    if (!secret)
        return unexpected(secretLibraryMissing());
    Attributes attributes(service_, key, options_.accessGroup);
    BoundedCall call(options_.timeout);
    GError* error = nullptr;
    gboolean removed = secret->clear(itemSchema(), attributes.table, call.cancellable(), &error);
    if (error || (!removed && call.timedOut())) {
        return unexpected(storageError("delete", error, call, options_.timeout));
    }
    if (removed)
        return true;
    // Nothing removed can still mean an item is there: the Secret Service skips locked items
    // without an error. Only an item that is truly absent counts as "there was none".
    return itemStillThere(attributes.table, call, options_.timeout);
}

} // namespace quorvel::idp
