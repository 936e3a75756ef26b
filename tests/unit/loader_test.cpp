// The module loader against real files: the test agent module, a variant without one entry
// point, a missing file and a text file named like a module.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/loader.h"
#include "agent/test_agent_module.h"
#include "agent_contract.h"
#include "foundation/wide_text.h"
#include "quorin.h"
#include "support/scoped_state.h"

namespace {

constexpr bool on_windows = QUORIN_TEST_WINDOWS != 0;
constexpr uint64_t capacity = agent_contract::error_capacity;

const char16_t* const agent_file = u"" QUORIN_TEST_AGENT_FILE;
const char16_t* const broken_agent_file = u"" QUORIN_TEST_BROKEN_AGENT_FILE;
const char16_t* const missing_file = u"" QUORIN_TEST_MISSING_AGENT_FILE;
const char16_t* const not_a_module_file = u"" QUORIN_TEST_NOT_A_MODULE_FILE;
const char16_t* const process_agent_name = agent_contract::process_agent_module_name;

// Codes of the system the tests run on.
constexpr uint32_t file_not_found = 2;
constexpr uint32_t invalid_parameter = on_windows ? 87 : 22;
constexpr uint32_t not_a_module = on_windows ? 193 : 8;
constexpr uint32_t missing_export = on_windows ? 127 : 38;

std::u16string status_text(uint32_t status) {
    quorin_wchar_t text[capacity];
    return to_internal(quorin_stub_xstrerror(status, text, capacity));
}

bool contains(const std::u16string& text, const std::u16string& part) {
    return text.find(part) != std::u16string::npos;
}

// A module handle slot that is freed when the test ends, whatever happened.
struct module_slot {
    void* handle = nullptr;
    module_slot() = default;
    module_slot(const module_slot&) = delete;
    module_slot& operator=(const module_slot&) = delete;
    ~module_slot() { module_free(&handle); }
};

struct load_result {
    uint32_t status;
    int32_t unexpected;
    std::u16string text;
};

load_result load(void** slot, const char16_t* name) {
    char16_t text[capacity];
    int32_t unexpected = -1;
    const uint32_t status = module_load(slot, name, text, capacity, &unexpected);
    return {status, unexpected, text};
}

test_agent_control_block* control_of(void* module) {
    void* address = nullptr;
    module_get_symbol(module, test_agent_control_symbol, &address, nullptr, 0);
    if (address == nullptr) return nullptr;
    return reinterpret_cast<test_agent_control_function>(address)();
}

}  // namespace

TEST(ModuleLoader, LoadsTheTestAgentAndFindsItsEntryPoints) {
    module_slot slot;
    const load_result loaded = load(&slot.handle, agent_file);
    ASSERT_EQ(loaded.status, 0u) << to_narrow(loaded.text);
    EXPECT_EQ(loaded.unexpected, 0);
    EXPECT_EQ(loaded.text, u"The operation completed successfully.");
    ASSERT_NE(slot.handle, nullptr);

    for (const char* symbol :
         {agent_contract::initialize_symbol, agent_contract::get_library_symbol,
          agent_contract::shutdown_symbol}) {
        SCOPED_TRACE(symbol);
        char16_t text[capacity];
        void* address = nullptr;
        EXPECT_EQ(module_get_symbol(slot.handle, symbol, &address, text, capacity), 0u);
        EXPECT_NE(address, nullptr);
        EXPECT_EQ(std::u16string(text), u"The operation completed successfully.");
    }
    const test_agent_control_block* control = control_of(slot.handle);
    ASSERT_NE(control, nullptr);
    EXPECT_STREQ(control->variant, "home");

    EXPECT_EQ(module_free(&slot.handle), 0u);
    EXPECT_EQ(slot.handle, nullptr);
}

TEST(ModuleLoader, MissingFileIsAnExpectedFailure) {
    module_slot slot;
    const load_result loaded = load(&slot.handle, missing_file);
    if (on_windows) {
        EXPECT_TRUE(loaded.status == 126 || loaded.status == file_not_found) << loaded.status;
        EXPECT_EQ(loaded.text, status_text(loaded.status));
    } else {
        EXPECT_EQ(loaded.status, file_not_found);
        EXPECT_TRUE(contains(loaded.text, missing_file)) << "the text names the file";
    }
    EXPECT_EQ(loaded.unexpected, 0);
    EXPECT_EQ(slot.handle, nullptr);
}

TEST(ModuleLoader, FileThatIsNotAModuleIsAnUnexpectedFailureNamingTheFile) {
    module_slot slot;
    const load_result loaded = load(&slot.handle, not_a_module_file);
    EXPECT_EQ(loaded.status, not_a_module);
    EXPECT_EQ(loaded.unexpected, 1);
    EXPECT_EQ(slot.handle, nullptr);
    if (on_windows) {
        // The system's %1 insert becomes the module name in single quotes.
        std::u16string expected = status_text(not_a_module);
        const size_t insert = expected.find(u"%1");
        ASSERT_NE(insert, std::u16string::npos);
        std::u16string quoted_name = u"'";
        quoted_name.append(not_a_module_file).push_back(u'\'');
        expected.replace(insert, 2, quoted_name);
        EXPECT_EQ(loaded.text, expected);
    } else {
        EXPECT_TRUE(contains(loaded.text, not_a_module_file)) << "the text names the file";
    }
    EXPECT_FALSE(contains(loaded.text, u"%"));
}

TEST(ModuleLoader, MissingEntryPointReportsTheSystemCodeAndClearsTheAddress) {
    module_slot slot;
    ASSERT_EQ(load(&slot.handle, broken_agent_file).status, 0u);
    void* address = nullptr;
    EXPECT_EQ(
        module_get_symbol(slot.handle, agent_contract::initialize_symbol, &address, nullptr, 0),
        0u);
    EXPECT_NE(address, nullptr);

    char16_t text[capacity];
    EXPECT_EQ(
        module_get_symbol(slot.handle, agent_contract::shutdown_symbol, &address, text, capacity),
        missing_export);
    EXPECT_EQ(address, nullptr);
    if (on_windows) {
        EXPECT_EQ(std::u16string(text), status_text(missing_export));
    } else {
        EXPECT_TRUE(contains(text, u"sdkagent_abi_shutdown")) << "the text names the export";
    }
}

TEST(ModuleLoader, InvalidArgumentsAreRefusedWithTheirText) {
    const std::u16string invalid = u"Invalid argument.";
    char16_t text[capacity];
    int32_t unexpected = -1;
    EXPECT_EQ(module_load(nullptr, agent_file, text, capacity, &unexpected),
              QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(unexpected, 1);
    EXPECT_EQ(std::u16string(text), invalid);

    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u""}) {
        module_slot slot;
        const load_result loaded = load(&slot.handle, name);
        EXPECT_EQ(loaded.status, QUORIN_STATUS_INVALID_ARGUMENT);
        EXPECT_EQ(loaded.unexpected, 1);
        EXPECT_EQ(loaded.text, invalid);
    }

    module_slot slot;
    ASSERT_EQ(load(&slot.handle, agent_file).status, 0u);
    void* address = &slot;
    EXPECT_EQ(
        module_get_symbol(nullptr, agent_contract::initialize_symbol, &address, text, capacity),
        QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(address, nullptr);
    EXPECT_EQ(std::u16string(text), invalid);
    EXPECT_EQ(
        module_get_symbol(slot.handle, agent_contract::initialize_symbol, nullptr, text, capacity),
        QUORIN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(std::u16string(text), invalid);
}

TEST(ModuleLoader, NamesThatAreNotFullPathsAreRefusedAsExpected) {
    // POSIX refuses them before the system sees them; Windows' restricted search flags do.
    const std::u16string file_name = u"" QUORIN_TEST_AGENT_FILE_NAME;
    const std::u16string below_home =
        u"agent" QUORIN_TEST_PATH_SEPARATOR
        "lib64" QUORIN_TEST_PATH_SEPARATOR QUORIN_TEST_AGENT_FILE_NAME;
    for (const std::u16string& name : {file_name, below_home}) {
        SCOPED_TRACE(to_narrow(name));
        module_slot slot;
        const load_result loaded = load(&slot.handle, name.c_str());
        EXPECT_EQ(loaded.status, invalid_parameter);
        EXPECT_EQ(loaded.unexpected, 0);
        EXPECT_EQ(slot.handle, nullptr);
    }
}

TEST(ModuleLoader, ProcessAgentNameFindsOnlyAModuleAlreadyInTheProcess) {
    module_slot slot;
    char16_t text[capacity];
    int32_t unexpected = -1;
    EXPECT_EQ(module_find_loaded(&slot.handle, process_agent_name, text, capacity, &unexpected),
              on_windows ? 126u : file_not_found);
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(slot.handle, nullptr);

    test_agent_module process_agent(QUORIN_TEST_PROCESS_AGENT_FILE);
    ASSERT_TRUE(process_agent.loaded());
    ASSERT_EQ(module_find_loaded(&slot.handle, process_agent_name, text, capacity, &unexpected), 0u)
        << to_narrow(text);
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(control_of(slot.handle), &process_agent.control());
    EXPECT_STREQ(process_agent->variant, "process");
    // Loading goes by path only: the bare name is refused even while the module is loaded.
    module_slot by_path;
    EXPECT_EQ(load(&by_path.handle, process_agent_name).status, invalid_parameter);
}

TEST(ModuleLoader, LoadingIntoAnOccupiedSlotReleasesTheHeldModuleFirst) {
    // A module that was really released comes back with its defaults when loaded again; one
    // still held keeps the marker.
    struct next_load {
        const char* description;
        const char16_t* name;
    };
    const next_load cases[] = {
        {"empty name", u""},
        {"null name", nullptr},
        {"missing file", missing_file},
        {"not a module", not_a_module_file},
        {"the same module", agent_file},
    };
    for (const next_load& next : cases) {
        SCOPED_TRACE(next.description);
        module_slot slot;
        ASSERT_EQ(load(&slot.handle, agent_file).status, 0u);
        test_agent_control_block* control = control_of(slot.handle);
        ASSERT_NE(control, nullptr);
        void* const fresh_context = control->context_value;
        control->context_value = &slot;

        const load_result loaded = load(&slot.handle, next.name);
        if (loaded.status != 0) {
            EXPECT_EQ(slot.handle, nullptr);
            ASSERT_EQ(load(&slot.handle, agent_file).status, 0u);
        }
        control = control_of(slot.handle);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->context_value, fresh_context) << "the first module was not released";
    }
}

TEST(ModuleLoader, AbsentErrorBufferGivesTheSameResults) {
    for (const char16_t* name : {agent_file, missing_file, not_a_module_file, u""}) {
        SCOPED_TRACE(to_narrow(name));
        module_slot with_text;
        const load_result expected = load(&with_text.handle, name);
        module_free(&with_text.handle);

        module_slot without_buffer;
        int32_t unexpected = -1;
        EXPECT_EQ(module_load(&without_buffer.handle, name, nullptr, capacity, &unexpected),
                  expected.status);
        EXPECT_EQ(unexpected, expected.unexpected);
        EXPECT_EQ(without_buffer.handle != nullptr, expected.status == 0);

        module_slot zero_capacity;
        char16_t untouched[] = u"xy";
        unexpected = -1;
        EXPECT_EQ(module_load(&zero_capacity.handle, name, untouched, 0, &unexpected),
                  expected.status);
        EXPECT_EQ(unexpected, expected.unexpected);
        EXPECT_EQ(std::u16string(untouched), u"xy");
    }
}

TEST(ModuleLoader, TextIsCutToTheBufferCapacity) {
    for (const char16_t* name : {agent_file, missing_file, not_a_module_file, u""}) {
        const std::u16string full = [&] {
            module_slot slot;
            return load(&slot.handle, name).text;
        }();
        for (const uint64_t small : {uint64_t{1}, uint64_t{12}}) {
            SCOPED_TRACE(to_narrow(name) + ", capacity " + std::to_string(small));
            module_slot slot;
            std::u16string buffer(small + 1, u'#');
            int32_t unexpected = -1;
            module_load(&slot.handle, name, buffer.data(), small, &unexpected);
            // A system text that does not fit gives way to the fallback, cut to fit.
            const std::u16string text = buffer.c_str();
            EXPECT_TRUE(text == full.substr(0, small - 1) ||
                        text == std::u16string(u"Unknown error.").substr(0, small - 1))
                << to_narrow(text);
            EXPECT_EQ(buffer[small], u'#') << "written beyond the capacity";
        }
    }

    module_slot slot;
    ASSERT_EQ(load(&slot.handle, agent_file).status, 0u);
    for (const char* symbol : {agent_contract::initialize_symbol, "no_such_export"}) {
        char16_t buffer[] = u"xy";
        void* address = nullptr;
        module_get_symbol(slot.handle, symbol, &address, buffer, 1);
        EXPECT_EQ(buffer[0], 0);
        EXPECT_EQ(buffer[1], u'y');
    }
}

TEST(ModuleFree, EmptiesTheSlotAndRefusesANullSlot) {
    void* empty = nullptr;
    EXPECT_EQ(module_free(&empty), 0u);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(module_free(nullptr), QUORIN_STATUS_INVALID_ARGUMENT);

    module_slot slot;
    ASSERT_EQ(load(&slot.handle, agent_file).status, 0u);
    EXPECT_EQ(module_free(&slot.handle), 0u);
    EXPECT_EQ(slot.handle, nullptr);
}
