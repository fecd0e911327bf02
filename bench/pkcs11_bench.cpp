// marlinok's PKCS #11 module beside SoftHSMv2, through one small PKCS #11
// client: C_Sign and C_Verify (CKM_RSA_PKCS, 1024 and 2048 bits),
// C_GenerateKeyPair (2048 bits) and a C_FindObjects search among 100 keys.
// Each module gets a fresh token of its own in a temporary folder (SoftHSM: a
// token folder and SOFTHSM2_CONF, initialized with C_InitToken and C_InitPIN;
// marlinok: a hive, its PIN set through the library), both are run in one
// process, and the ratios marlinok/SoftHSM are printed against their targets.
//
//   marlinok-pkcs11-bench [--marlinok MODULE] [--softhsm MODULE] [benchmark options]
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "marlinok.h"

namespace {

constexpr char kUserPin[] = "24682468";
constexpr char kSoPin[] = "13571357";
constexpr int kSearchKeys = 100;

#ifndef MARLINOK_BENCH_PKCS11_MODULE
#define MARLINOK_BENCH_PKCS11_MODULE "libmarlinok-pkcs11.so"
#endif

void Check(CK_RV rv, const char* what) {
  if (rv != CKR_OK) {
    char text[128];
    std::snprintf(text, sizeof text, "%s: CKR 0x%lx", what, static_cast<unsigned long>(rv));
    throw std::runtime_error(text);
  }
}

CK_UTF8CHAR_PTR Utf8(const char* text) {
  return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text));
}

// One loaded module with one logged-in read/write session on its first token.
class Module {
 public:
  Module(std::string name, const std::string& path) : name_(std::move(name)) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error("cannot load " + path + ": " + dlerror());
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
    if (getList == nullptr) throw std::runtime_error(path + " has no C_GetFunctionList");
    Check(getList(&f_), "C_GetFunctionList");
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    Check(f_->C_Initialize(&args), "C_Initialize");
    initialized_ = true;
  }
  ~Module() {
    if (session_ != CK_INVALID_HANDLE) f_->C_CloseSession(session_);
    if (initialized_) f_->C_Finalize(nullptr);
    // The modules stay loaded: their threads and atexit handlers may outlive
    // C_Finalize.
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& Name() const { return name_; }
  CK_FUNCTION_LIST_PTR F() const { return f_; }
  CK_SESSION_HANDLE Session() const { return session_; }

  CK_SLOT_ID FirstSlot(bool withToken) {
    CK_ULONG count = 0;
    Check(f_->C_GetSlotList(withToken ? CK_TRUE : CK_FALSE, nullptr, &count), "C_GetSlotList");
    if (count == 0) throw std::runtime_error(name_ + ": no slot");
    std::vector<CK_SLOT_ID> slots(count);
    Check(f_->C_GetSlotList(withToken ? CK_TRUE : CK_FALSE, slots.data(), &count), "C_GetSlotList");
    return slots[0];
  }

  // SoftHSM's way to a user PIN: a token initialized with an SO PIN, which
  // then sets the user PIN. Reloads the slot list, as a new token may move.
  void InitToken() {
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "bench", 5);
    const CK_SLOT_ID slot = FirstSlot(false);
    Check(f_->C_InitToken(slot, Utf8(kSoPin), std::strlen(kSoPin), label), "C_InitToken");
    CK_SESSION_HANDLE so = CK_INVALID_HANDLE;
    Check(f_->C_OpenSession(FirstSlot(true), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                            &so),
          "C_OpenSession (SO)");
    Check(f_->C_Login(so, CKU_SO, Utf8(kSoPin), std::strlen(kSoPin)), "C_Login (SO)");
    Check(f_->C_InitPIN(so, Utf8(kUserPin), std::strlen(kUserPin)), "C_InitPIN");
    f_->C_Logout(so);
    f_->C_CloseSession(so);
  }

  void OpenAndLogin() {
    Check(f_->C_OpenSession(FirstSlot(true), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                            &session_),
          "C_OpenSession");
    Check(f_->C_Login(session_, CKU_USER, Utf8(kUserPin), std::strlen(kUserPin)), "C_Login");
  }

  struct Pair {
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
  };

  // A token RSA pair for signing, labelled `label`.
  Pair Generate(CK_ULONG bits, const std::string& label) {
    CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    std::vector<CK_BYTE> id(label.begin(), label.end());
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_VERIFY, &yes, sizeof yes},
        {CKA_MODULUS_BITS, &bits, sizeof bits},
        {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent},
        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
        {CKA_ID, id.data(), id.size()},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, sizeof yes},
        {CKA_PRIVATE, &yes, sizeof yes},
        {CKA_SENSITIVE, &yes, sizeof yes},
        {CKA_SIGN, &yes, sizeof yes},
        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
        {CKA_ID, id.data(), id.size()},
    };
    Pair pair;
    Check(f_->C_GenerateKeyPair(session_, &mechanism, publicTemplate, std::size(publicTemplate),
                                privateTemplate, std::size(privateTemplate), &pair.publicKey,
                                &pair.privateKey),
          "C_GenerateKeyPair");
    return pair;
  }

  void Destroy(const Pair& pair) {
    // Destroying one half may take the other with it (marlinok stores pairs).
    f_->C_DestroyObject(session_, pair.privateKey);
    f_->C_DestroyObject(session_, pair.publicKey);
  }

 private:
  std::string name_;
  void* handle_ = nullptr;
  CK_FUNCTION_LIST_PTR f_ = nullptr;
  bool initialized_ = false;
  CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
};

// A SHA-256 DigestInfo, as CKM_RSA_PKCS signs it for TLS and ssh.
std::vector<CK_BYTE> DigestInfo() {
  std::vector<CK_BYTE> info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                               0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
  for (int i = 0; i < 32; ++i) info.push_back(static_cast<CK_BYTE>(i * 7 + 1));
  return info;
}

struct Fixture {
  std::unique_ptr<Module> module;
  std::map<CK_ULONG, Module::Pair> signing;  // by bits
  std::string searchLabel;
};

// Runs `body` for the benchmark, turning a failed call into the run's error.
template <typename Body>
void Guard(benchmark::State& state, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void BM_Sign(benchmark::State& state, Fixture* fx, CK_ULONG bits) {
  Guard(state, [&] {
    Module& m = *fx->module;
    const Module::Pair key = fx->signing.at(bits);
    const std::vector<CK_BYTE> input = DigestInfo();
    std::vector<CK_BYTE> signature(bits / 8);
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    for (auto _ : state) {
      CK_ULONG length = signature.size();
      Check(m.F()->C_SignInit(m.Session(), &mechanism, key.privateKey), "C_SignInit");
      Check(m.F()->C_Sign(m.Session(), const_cast<CK_BYTE*>(input.data()), input.size(),
                          signature.data(), &length),
            "C_Sign");
      benchmark::DoNotOptimize(signature.data());
    }
  });
}

void BM_Verify(benchmark::State& state, Fixture* fx, CK_ULONG bits) {
  Guard(state, [&] {
    Module& m = *fx->module;
    const Module::Pair key = fx->signing.at(bits);
    std::vector<CK_BYTE> input = DigestInfo();
    std::vector<CK_BYTE> signature(bits / 8);
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    CK_ULONG length = signature.size();
    Check(m.F()->C_SignInit(m.Session(), &mechanism, key.privateKey), "C_SignInit");
    Check(m.F()->C_Sign(m.Session(), input.data(), input.size(), signature.data(), &length),
          "C_Sign");
    for (auto _ : state) {
      Check(m.F()->C_VerifyInit(m.Session(), &mechanism, key.publicKey), "C_VerifyInit");
      Check(m.F()->C_Verify(m.Session(), input.data(), input.size(), signature.data(), length),
            "C_Verify");
    }
  });
}

void BM_GenerateKeyPair(benchmark::State& state, Fixture* fx, CK_ULONG bits) {
  Guard(state, [&] {
    Module& m = *fx->module;
    int n = 0;
    for (auto _ : state) {
      const Module::Pair pair = m.Generate(bits, "keygen-" + std::to_string(n++));
      state.PauseTiming();
      m.Destroy(pair);
      state.ResumeTiming();
    }
  });
}

// One private key found by its label among the 100 labelled search-NN (and
// the few others): C_FindObjectsInit, C_FindObjects, C_FindObjectsFinal.
void BM_FindObjects(benchmark::State& state, Fixture* fx) {
  Guard(state, [&] {
    Module& m = *fx->module;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    const std::string& label = fx->searchLabel;
    CK_ATTRIBUTE query[] = {
        {CKA_CLASS, &privateClass, sizeof privateClass},
        {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
    };
    for (auto _ : state) {
      CK_OBJECT_HANDLE found[16];
      CK_ULONG count = 0;
      Check(m.F()->C_FindObjectsInit(m.Session(), query, std::size(query)), "C_FindObjectsInit");
      Check(m.F()->C_FindObjects(m.Session(), found, std::size(found), &count), "C_FindObjects");
      Check(m.F()->C_FindObjectsFinal(m.Session()), "C_FindObjectsFinal");
      if (count != 1)
        throw std::runtime_error(m.Name() + ": the search found " + std::to_string(count) +
                                 " keys, not 1");
    }
  });
}

// The operations compared, with the most marlinok may take relative to SoftHSM.
struct Comparison {
  std::string name;
  double target;
};
const std::vector<Comparison> kComparisons = {
    {"Sign/RSA-PKCS/2048", 0.7},       {"Sign/RSA-PKCS/1024", 0.7},
    {"Verify/RSA-PKCS/2048", 0.7},     {"Verify/RSA-PKCS/1024", 0.7},
    {"GenerateKeyPair/RSA/2048", 0.5}, {"FindObjects/label/100-keys", 0.5},
};

// Each operation on every module in turn, so that the two measure it under the
// same load of a shared machine; process CPU time, whatever threads a module
// runs an operation on.
void Register(const std::vector<std::unique_ptr<Fixture>>& fixtures) {
  const auto each = [&](const std::string& name, auto function, auto... args) {
    for (const auto& fx : fixtures)
      benchmark::RegisterBenchmark((name + "/" + fx->module->Name()).c_str(), function, fx.get(),
                                   args...)
          ->Unit(benchmark::kMicrosecond)
          ->MeasureProcessCPUTime()
          ->UseRealTime();
  };
  each("Sign/RSA-PKCS/2048", BM_Sign, CK_ULONG{2048});
  each("Sign/RSA-PKCS/1024", BM_Sign, CK_ULONG{1024});
  each("Verify/RSA-PKCS/2048", BM_Verify, CK_ULONG{2048});
  each("Verify/RSA-PKCS/1024", BM_Verify, CK_ULONG{1024});
  for (const auto& fx : fixtures)
    benchmark::RegisterBenchmark(("GenerateKeyPair/RSA/2048/" + fx->module->Name()).c_str(),
                                 BM_GenerateKeyPair, fx.get(), CK_ULONG{2048})
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime()
        ->MinTime(5.0);
  each("FindObjects/label/100-keys", BM_FindObjects);
}

// The keys every benchmark works on: one signing pair of each size, and the
// 100 the search looks through (1024 bits, for a quick setup).
void Populate(Fixture* fx) {
  Module& m = *fx->module;
  for (CK_ULONG bits : {1024ul, 2048ul})
    fx->signing[bits] = m.Generate(bits, "sign-" + std::to_string(bits));
  for (int i = 0; i < kSearchKeys; ++i) m.Generate(1024, "search-" + std::to_string(i));
  fx->searchLabel = "search-" + std::to_string(kSearchKeys * 2 / 3);
}

// Keeps what the console shows, and each benchmark's wall-clock and CPU time
// per call by name (the median when --benchmark_repetitions asks for several).
struct Timing {
  double real = 0;
  double cpu = 0;
  bool median = false;
};
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_Color : OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      Timing& t = timings_[run.run_name.function_name];
      if (t.median && !median) continue;
      const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
      t = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit, median};
    }
  }
  const std::map<std::string, Timing>& Timings() const { return timings_; }

 private:
  std::map<std::string, Timing> timings_;
};

std::string Temporary(const char* what) {
  std::string pattern = (std::filesystem::temp_directory_path() / "marlinok-bench-").string();
  pattern += what;
  pattern += "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string Option(int* argc, char** argv, const char* name, const std::string& fallback) {
  std::string value = fallback;
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], name) == 0 && i + 1 < *argc) {
      value = argv[++i];
    } else {
      argv[out++] = argv[i];
    }
  }
  *argc = out;
  return value;
}

// SoftHSM keeps its tokens where SOFTHSM2_CONF says, read when it loads.
std::unique_ptr<Module> LoadSoftHsm(const std::string& path, const std::string& folder) {
  std::filesystem::create_directory(folder + "/tokens");
  const std::string conf = folder + "/softhsm2.conf";
  FILE* file = std::fopen(conf.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + conf);
  std::fprintf(file, "directories.tokendir = %s/tokens\nobjectstore.backend = file\n",
               folder.c_str());
  std::fclose(file);
  setenv("SOFTHSM2_CONF", conf.c_str(), 1);
  auto module = std::make_unique<Module>("softhsm", path);
  module->InitToken();
  module->OpenAndLogin();
  return module;
}

// marlinok has no SO PIN: the hive's PIN is set through the library, whose
// token exists once it holds a container.
std::unique_ptr<Module> LoadMarlinok(const std::string& path, const std::string& folder) {
  setenv("MARLINOK_REGISTRY", (folder + "/registry.db").c_str(), 1);
  if (QM_CreateContainer("bench-setup") != ERR_OK || QMCA_SetPin(1, kUserPin) != 1 ||
      QM_DestroyContainer("bench-setup") != ERR_OK)
    throw std::runtime_error("cannot set the PIN of a fresh hive");
  auto module = std::make_unique<Module>("marlinok", path);
  module->OpenAndLogin();
  return module;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string marlinokPath = Option(&argc, argv, "--marlinok", MARLINOK_BENCH_PKCS11_MODULE);
  const std::string softhsmPath =
      Option(&argc, argv, "--softhsm", "/usr/lib/softhsm/libsofthsm2.so");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 64;

  std::vector<std::string> folders;
  std::vector<std::unique_ptr<Fixture>> fixtures;
  int status = 0;
  try {
    const std::pair<const char*, const std::string*> modules[] = {{"softhsm", &softhsmPath},
                                                                  {"marlinok", &marlinokPath}};
    for (const auto& [name, path] : modules) {
      folders.push_back(Temporary(name));
      auto fx = std::make_unique<Fixture>();
      try {
        fx->module = std::string(name) == "softhsm" ? LoadSoftHsm(*path, folders.back())
                                                    : LoadMarlinok(*path, folders.back());
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s left out: %s\n", name, e.what());
        status = 1;
        continue;
      }
      std::fprintf(stderr, "%s: %s, generating %d keys for the search...\n", name, path->c_str(),
                   kSearchKeys + 2);
      Populate(fx.get());
      fixtures.push_back(std::move(fx));
    }

    Register(fixtures);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // The verdict is on wall-clock time, what an application waits for; CPU
    // time is beside it, steadier on a machine shared with other work.
    const auto& timings = reporter.Timings();
    std::printf("\n%-28s %12s %12s %7s %7s %7s\n", "marlinok / SoftHSM", "SoftHSM", "marlinok",
                "ratio", "cpu", "target");
    for (const Comparison& c : kComparisons) {
      const auto soft = timings.find(c.name + "/softhsm");
      const auto ours = timings.find(c.name + "/marlinok");
      if (soft == timings.end() || ours == timings.end()) continue;
      const double ratio = ours->second.real / soft->second.real;
      const double cpuRatio = ours->second.cpu / soft->second.cpu;
      std::printf("%-28s %9.1f us %9.1f us %6.2fx %6.2fx %6.2fx %s\n", c.name.c_str(),
                  soft->second.real * 1e6, ours->second.real * 1e6, ratio, cpuRatio, c.target,
                  ratio <= c.target ? "met" : "MISSED");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "marlinok-pkcs11-bench: %s\n", e.what());
    status = 1;
  }
  fixtures.clear();
  benchmark::Shutdown();
  for (const std::string& folder : folders) std::filesystem::remove_all(folder);
  return status;
}
