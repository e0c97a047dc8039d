// The Python module `velmora`: the detector, the recording reader and the
// evaluation, as thin bindings over the C++ libraries the programs use.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "DefaultSpace.h"
#include "EvalRender.h"
#include "Evaluation.h"
#include "Explain.h"
#include "ExplainOutput.h"
#include "InfoFile.h"
#include "Provenance.h"
#include "RecordingCache.h"
#include "SampleInput.h"
#include "SettingsTable.h"
#include "SettingsProfiles.h"
#include "TextUtils.h"
#include "Velmora.h"
#include "VelmoraObservation.h"
#include "VelmoraSettings.h"

namespace py = pybind11;
using velmora_python::SampleInput;
namespace evaluation = velmora::evaluation;

namespace {

// ---------------------------------------------------------------- settings

py::dict settingsToDict(const DetectorSettings& settings) {
  py::dict result;
  for (const VelmoraSetting& setting : VelmoraSettingsTable()) {
    result[setting.name] = settings.*setting.member;
  }
  return result;
}

// Defaults, overridden by the names the mapping gives.
DetectorSettings settingsFrom(const py::handle& mapping) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  if (mapping.is_none()) {
    return settings;
  }
  if (!PyMapping_Check(mapping.ptr()) || !py::hasattr(mapping, "items")) {
    throw py::type_error("settings must be a dict of setting name to integer");
  }
  for (const py::handle item : mapping.attr("items")()) {
    const auto pair = py::reinterpret_borrow<py::tuple>(item);
    if (!py::isinstance<py::str>(pair[0])) {
      throw py::type_error("setting names must be strings; got " +
                           py::repr(pair[0]).cast<std::string>());
    }
    const auto name = pair[0].cast<std::string>();
    const VelmoraSetting* field = VelmoraFindSetting(name);
    if (field == nullptr) {
      throw py::value_error(unknownSettingMessage(name));
    }
    const py::handle value = pair[1];
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
      throw py::type_error("setting " + name + " must be an integer; got " +
                           py::repr(value).cast<std::string>());
    }
    int overflow = 0;
    const py::object integer = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!integer) {
      throw py::error_already_set();
    }
    const long long number = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    if (overflow != 0 || number < INT32_MIN || number > INT32_MAX) {
      throw py::value_error("setting " + name + " = " + py::repr(value).cast<std::string>() +
                            " is outside the 32-bit range");
    }
    settings.*field->member = static_cast<int32_t>(number);
  }
  return settings;
}

void checkOrThrow(const DetectorSettings& settings) {
  if (const std::string error = VelmoraCheckSettings(settings); !error.empty()) {
    throw py::value_error(error);
  }
}

// ------------------------------------------------------------------ arrays

// Hands a vector's storage to numpy without copying it.
template <typename T>
py::array_t<T> toArray(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
  auto owner = std::make_unique<std::vector<T>>(std::move(values));
  T* data = owner->data();
  py::capsule capsule(owner.get(), [](void* p) { delete static_cast<std::vector<T>*>(p); });
  owner.release();
  return py::array_t<T>(std::move(shape), data, capsule);
}

// ------------------------------------------------------------- observation

// One column of Detector.observe: a field of the observation record and
// the numpy array its values go to (int64 for integers, bool for flags, a
// one-character string for characters).
struct ObservationColumn {
  const VelmoraObservationField* field;
  py::array values;
  unsigned char* data;

  ObservationColumn(const VelmoraObservationField& observed, py::ssize_t count)
      : field(&observed),
        values(dtypeOf(observed.kind), std::vector<py::ssize_t>{count}),
        data(static_cast<unsigned char*>(values.mutable_data())) {}

  static py::dtype dtypeOf(VelmoraFieldKind kind) {
    switch (kind) {
      case VelmoraFieldKind::flag:
        return py::dtype::of<bool>();
      case VelmoraFieldKind::character:
        return py::dtype("U1");
      case VelmoraFieldKind::integer:
        break;
    }
    return py::dtype::of<int64_t>();
  }

  void store(std::size_t index, const VelmoraObservation& observation) const {
    const int64_t value = field->read(observation);
    switch (field->kind) {
      case VelmoraFieldKind::flag: {
        const bool flag = value != 0;
        std::memcpy(data + index * sizeof flag, &flag, sizeof flag);
        return;
      }
      case VelmoraFieldKind::character: {
        const auto character = static_cast<char32_t>(static_cast<unsigned char>(value));
        std::memcpy(data + index * sizeof character, &character, sizeof character);
        return;
      }
      case VelmoraFieldKind::integer:
        break;
    }
    std::memcpy(data + index * sizeof value, &value, sizeof value);
  }
};

// None, a dict or the path of a settings file (see below).
DetectorSettings settingsArgument(const py::handle& settings,
                                  evaluation::SettingsProvenance& provenance);

// The same where what a settings file was tuned on does not matter.
DetectorSettings settingsOnly(const py::handle& settings) {
  evaluation::SettingsProvenance unused;
  return settingsArgument(settings, unused);
}

// ---------------------------------------------------------------- detector

class Detector {
 public:
  explicit Detector(const py::handle& settings)
      : settings_(settingsOnly(settings)), context_(std::make_unique<DetectorContext>()) {
    checkOrThrow(settings_);
    setUp();
  }
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;
  ~Detector() { closeContext(); }

  py::array_t<int32_t> process(const py::handle& samples) {
    const SampleInput input(samples);
    py::array_t<int32_t> codes(static_cast<py::ssize_t>(input.size()));
    int32_t* out = codes.mutable_data();
    run(input, [&](std::size_t i, const SampleRecord& sample) {
      out[i] = VelmoraProcess(context_.get(), &sample);
    });
    return codes;
  }

  py::dict observe(const py::handle& samples) {
    const SampleInput input(samples);
    std::vector<ObservationColumn> columns;
    for (const VelmoraObservationField& field : VelmoraObservationFields()) {
      columns.emplace_back(field, static_cast<py::ssize_t>(input.size()));
    }
    run(input, [&](std::size_t i, const SampleRecord& sample) {
      VelmoraObservation observation{};
      VelmoraProcessObserved(context_.get(), &sample, &observation);
      for (const ObservationColumn& column : columns) {
        column.store(i, observation);
      }
    });
    py::dict result;
    for (const ObservationColumn& column : columns) {
      result[column.field->name] = column.values;
    }
    return result;
  }

  void reset() {
    py::gil_scoped_release release;
    const std::lock_guard lock(mutex_);
    closeContext();
    setUp();
  }

  void close() {
    py::gil_scoped_release release;
    const std::lock_guard lock(mutex_);
    closeContext();
  }

  [[nodiscard]] bool closed() const { return !open_; }
  [[nodiscard]] py::dict settings() const { return settingsToDict(settings_); }

 private:
  // Feeds every sample to `step` with the interpreter released, so other
  // Python threads (and other detectors) run meanwhile. The lock keeps two
  // threads from driving one context at once.
  template <typename Step>
  void run(const SampleInput& input, Step&& step) {
    bool wasOpen = false;
    {
      py::gil_scoped_release release;
      const std::lock_guard lock(mutex_);
      wasOpen = open_;
      if (wasOpen) {
        for (std::size_t i = 0; i < input.size(); ++i) {
          step(i, input.at(i));
        }
      }
    }
    if (!wasOpen) {
      throw py::value_error("the detector is closed; reset() sets it up again");
    }
  }

  void setUp() {
    if (VelmoraSet(context_.get(), &settings_) < 0) {
      throw std::runtime_error("the detector refused its settings");
    }
    open_ = true;
  }

  void closeContext() {
    if (open_) {
      VelmoraClose(context_.get());
      open_ = false;
    }
  }

  DetectorSettings settings_;
  std::unique_ptr<DetectorContext> context_;
  std::atomic<bool> open_ = false;  // read by `closed` without the lock
  std::mutex mutex_;
};

// --------------------------------------------------------------- recording

struct RecordingInfo {
  std::string path;
  std::string name;
  int32_t fallPosition = 0;
  int32_t fallFlag = 0;
};

struct Recording {
  std::string path;
  py::array samples;
  py::array positions;
  py::object info;
};

[[noreturn]] void raiseOSError(const std::string& message) {
  PyErr_SetString(PyExc_OSError, message.c_str());
  throw py::error_already_set();
}

// A str or os.PathLike path as text.
std::string pathText(const py::handle& path) {
  return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

Recording readRecording(const py::handle& pathObject) {
  const std::string path = pathText(pathObject);
  // The samples first (a missing recording is an OSError whatever lies
  // beside it), then the annotation, both as the programs read them.
  std::filesystem::path infoPath(path);
  infoPath.replace_extension(".info");
  std::error_code error;
  const bool hasInfo = std::filesystem::exists(infoPath, error);
  evaluation::LoadedRecording loaded;
  InfoAnnotation annotation;
  {
    py::gil_scoped_release release;
    loaded = evaluation::loadRecording(evaluation::RecordingEntry{path, {}, {}});
    if (loaded.readable() && hasInfo) {
      annotation = readInfoFileStrict(infoPath.string());
      if (annotation.problem.empty()) {
        annotation.problem = evaluation::checkFallPosition(
            infoPath.string(), annotation.fallPosition, loaded.dataLines);
      }
    }
  }
  if (!loaded.readable()) {
    raiseOSError("recording '" + path + "': " + loaded.problem);
  }
  if (!annotation.problem.empty()) {
    throw py::value_error(annotation.problem);
  }
  Recording recording;
  recording.path = path;
  const auto count = static_cast<py::ssize_t>(loaded.samples.size());
  std::vector<int64_t> positions(loaded.samples.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    positions[i] = loaded.positionOf(i);
  }
  recording.positions = toArray(std::move(positions), {count});
  // The records are six packed int16 values: numpy views them as rows.
  auto owner = std::make_unique<std::vector<SampleRecord>>(std::move(loaded.samples));
  auto* data = reinterpret_cast<int16_t*>(owner->data());
  py::capsule capsule(owner.get(),
                      [](void* p) { delete static_cast<std::vector<SampleRecord>*>(p); });
  owner.release();
  recording.samples = py::array_t<int16_t>({count, py::ssize_t{6}}, data, capsule);
  recording.info = py::none();
  if (hasInfo) {
    RecordingInfo info;
    info.path = infoPath.string();
    info.fallPosition = annotation.fallPosition;
    info.fallFlag = annotation.fallFlag;
    info.name = annotation.name;  // the first field, which the programs do not use
    recording.info = py::cast(std::move(info));
  }
  return recording;
}

// -------------------------------------------------------------- evaluation

// The evaluation's JSON tree as Python values: what json.load gives for the
// text velmora-eval --json writes.
py::object toPython(const evaluation::JsonValue& value) {
  using Kind = evaluation::JsonValue::Kind;
  switch (value.kind) {
    case Kind::Null:
      return py::none();
    case Kind::Boolean:
      return py::bool_(value.boolean);
    case Kind::Integer:
      return py::int_(value.integer);
    case Kind::Number:
      return py::float_(value.number);
    case Kind::String:
      return py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
          value.text.data(), static_cast<py::ssize_t>(value.text.size()), "replace"));
    case Kind::Array: {
      py::list list;
      for (const evaluation::JsonValue& item : value.items) {
        list.append(toPython(item));
      }
      return list;
    }
    case Kind::Object:
      break;
  }
  py::dict dict;
  for (std::size_t i = 0; i < value.items.size(); ++i) {
    dict[py::str(value.keys[i])] = toPython(value.items[i]);
  }
  return dict;
}

// ---------------------------------------------------------------- settings files

bool isPath(const py::handle& object) {
  return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

// A settings file read as the programs read it (--settings), with the
// recordings it was tuned on.
DetectorSettings readSettingsPath(const std::string& path,
                                  evaluation::SettingsProvenance& provenance) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  std::string error;
  {
    py::gil_scoped_release release;
    error = evaluation::readSettingsFile(path, path, settings, provenance);
  }
  if (!error.empty()) {
    throw py::value_error(error);
  }
  checkOrThrow(settings);
  return settings;
}

DetectorSettings settingsArgument(const py::handle& settings,
                                  evaluation::SettingsProvenance& provenance) {
  if (isPath(settings)) {
    return readSettingsPath(pathText(settings), provenance);
  }
  DetectorSettings result = settingsFrom(settings);
  checkOrThrow(result);
  return result;
}

// The folders a profile is looked for in, beside the module: the build
// tree's and an install's share/velmora/profiles, and the one below the
// interpreter's prefix (where a wheel's data files go).
std::vector<std::filesystem::path> moduleProfileFolders() {
  const std::filesystem::path module =
      std::filesystem::path(py::module_::import("velmora").attr("__file__").cast<std::string>())
          .parent_path();
  std::vector<std::filesystem::path> folders = {profilesFolderBeside(module)};
#ifdef VELMORA_PROFILES_FROM_MODULE
  folders.push_back((module / VELMORA_PROFILES_FROM_MODULE).lexically_normal());
#endif
  const std::string prefix = py::module_::import("sys").attr("prefix").cast<std::string>();
  folders.push_back(std::filesystem::path(prefix) / kProfilesFolder);
  return folders;
}

std::string profilePath(const std::string& name) {
  std::string error;
  std::string path = findProfile(name, moduleProfileFolders(), error);
  if (path.empty()) {
    throw py::value_error(error);
  }
  return path;
}

constexpr double kMaxToleranceSeconds = 86400.0;
constexpr int kMaxJobs = 1024;

// One column name or a list of them.
std::vector<std::string> columnNames(const py::handle& columns) {
  std::vector<std::string> names;
  if (py::isinstance<py::str>(columns)) {
    names.push_back(columns.cast<std::string>());
  } else {
    for (const py::handle column : columns) {
      names.push_back(column.cast<std::string>());
    }
  }
  for (const std::string& name : names) {
    if (name.empty()) {
      throw py::value_error("group_by_column needs a column name");
    }
  }
  return names;
}

py::object evaluatePaths(const py::handle& pathsObject, const py::handle& settings, int jobs,
                         double earlyTolerance, const py::handle& groupBy,
                         const py::handle& groupByColumn) {
  std::vector<std::string> paths;
  if (py::isinstance<py::str>(pathsObject) || py::hasattr(pathsObject, "__fspath__")) {
    paths.push_back(pathText(pathsObject));  // one path, not a sequence of characters
  } else {
    for (const py::handle path : pathsObject) {
      paths.push_back(pathText(path));
    }
  }
  if (paths.empty()) {
    throw py::value_error("no recordings or folders given");
  }
  evaluation::EvaluationOptions options = evaluation::defaultEvaluationOptions();
  options.settings = settingsArgument(settings, options.provenance);
  if (!(earlyTolerance >= 0.0 && earlyTolerance <= kMaxToleranceSeconds)) {
    throw py::value_error("early_tolerance must be a number of seconds in 0..86400");
  }
  options.toleranceSeconds = earlyTolerance;
  if (jobs < 0 || jobs > kMaxJobs) {
    throw py::value_error("jobs must lie in 0..1024 (0: one per core)");
  }
  options.jobs = jobs;
  if (!groupBy.is_none()) {
    options.groupPattern = groupBy.cast<std::string>();
    if (options.groupPattern.empty()) {
      throw py::value_error("group_by needs a regular expression");
    }
  }
  if (!groupByColumn.is_none()) {
    for (const std::string& column : columnNames(groupByColumn)) {
      options.groupKeys.push_back({evaluation::GroupKey::Kind::Column, column});
    }
  }
  evaluation::Evaluation result;
  std::string error;
  {
    py::gil_scoped_release release;
    error = evaluation::evaluatePaths(paths, options, result);
  }
  if (!error.empty()) {
    throw py::value_error(error);
  }
  return toPython(evaluation::evaluationJson(result));
}

// The space of an explanation: None (the default space), a space file's
// path, or a mapping of setting names to (low, high) ranges.
std::vector<tune::Dimension> spaceFrom(const py::handle& space) {
  std::vector<tune::Dimension> dimensions;
  if (space.is_none()) {
    return tune::defaultSpace();
  }
  std::string error;
  if (py::isinstance<py::str>(space) || py::hasattr(space, "__fspath__")) {
    error = tune::parseSpaceFile(pathText(space), dimensions);
  } else if (py::isinstance<py::dict>(space)) {
    std::string text;
    for (const auto& [name, range] : space.cast<py::dict>()) {
      const auto bounds = range.cast<std::vector<int64_t>>();
      if (bounds.size() != 2) {
        throw py::value_error("space: each setting needs a (low, high) range");
      }
      text += name.cast<std::string>() + " " + std::to_string(bounds[0]) + " " +
              std::to_string(bounds[1]) + "\n";
    }
    error = tune::parseSpaceText(text, "space", dimensions);
  } else {
    throw py::type_error("space must be None, a space file's path or a dict of (low, high)");
  }
  if (!error.empty()) {
    throw py::value_error(error);
  }
  return dimensions;
}

py::object explainPaths(const py::handle& pathsObject, const py::handle& settings,
                        const py::handle& space, int jobs, double earlyTolerance) {
  std::vector<std::string> paths;
  if (py::isinstance<py::str>(pathsObject) || py::hasattr(pathsObject, "__fspath__")) {
    paths.push_back(pathText(pathsObject));
  } else {
    for (const py::handle path : pathsObject) {
      paths.push_back(pathText(path));
    }
  }
  if (paths.empty()) {
    throw py::value_error("no recordings or folders given");
  }
  tune::ExplainConfig config;
  config.base = settingsOnly(settings);
  config.space = spaceFrom(space);
  if (std::string error = tune::checkSpace(config.space, config.base); !error.empty()) {
    throw py::value_error(error);
  }
  if (!(earlyTolerance >= 0.0 && earlyTolerance <= kMaxToleranceSeconds)) {
    throw py::value_error("early_tolerance must be a number of seconds in 0..86400");
  }
  config.toleranceSamples = evaluation::toleranceSamples(earlyTolerance);
  if (jobs < 0 || jobs > kMaxJobs) {
    throw py::value_error("jobs must lie in 0..1024 (0: one per core)");
  }
  config.jobs = jobs;
  const evaluation::RecordingSearch search = evaluation::findRecordings(paths, ".csv");
  if (!search.error.empty()) {
    throw py::value_error(search.error);
  }
  evaluation::JsonValue tree;
  {
    py::gil_scoped_release release;
    const tune::RecordingCache cache = tune::loadCache(search.recordings, jobs, {});
    tree = tune::explainJson(tune::explainRecordings(cache, config));
  }
  return toPython(tree);
}

}  // namespace

PYBIND11_MODULE(velmora, m) {
  m.doc() =
      "The Velmora fall detector, its recording reader and its evaluation, for numpy and "
      "pandas work. Results are bit-identical to the command-line programs.";
  m.attr("__version__") = VELMORA_PROJECT_VERSION;

  m.def(
      "version", [] { return std::string(VelmoraGetVersion()); },
      "The detector's version text, as Drovik prints it.");
  m.def(
      "default_settings",
      [] {
        DetectorSettings settings;
        VelmoraDefaultSettings(&settings);
        return settingsToDict(settings);
      },
      "The 35 detector settings with their defaults, in their fixed order.");
  m.def(
      "check_settings", [](const py::handle& settings) { checkOrThrow(settingsFrom(settings)); },
      py::arg("settings"),
      "Raises ValueError when the detector would refuse these settings (names not given keep "
      "their defaults).");

  py::class_<Detector>(m, "Detector",
                       "One detector run: feed it a recording's samples in order, whole or in "
                       "chunks.")
      .def(py::init<const py::handle&>(), py::arg("settings") = py::none())
      .def("process", &Detector::process, py::arg("samples"),
           "Result codes (int32, one per sample) for samples of shape (N, 6).")
      .def("observe", &Detector::observe, py::arg("samples"),
           "Like process, plus every per-sample value the detector observes, as a dict of "
           "equal-length numpy arrays; 'code' holds the result codes.")
      .def("reset", &Detector::reset, "Starts over with the same settings.")
      .def("close", &Detector::close, "Releases the detector's state; reset() reopens it.")
      .def_property_readonly("closed", &Detector::closed)
      .def_property_readonly("settings", &Detector::settings,
                             "The detector's settings, all 35 of them.")
      .def("__enter__", [](Detector& self) -> Detector& { return self; })
      .def("__exit__", [](Detector& self, const py::args&) { self.close(); });

  py::class_<RecordingInfo>(m, "RecordingInfo", "The annotation beside a fall recording.")
      .def_readonly("path", &RecordingInfo::path)
      .def_readonly("name", &RecordingInfo::name)
      .def_readonly("fall_position", &RecordingInfo::fallPosition)
      .def_readonly("fall_flag", &RecordingInfo::fallFlag)
      .def("__repr__", [](const RecordingInfo& info) {
        return "RecordingInfo(name=" + py::repr(py::str(info.name)).cast<std::string>() +
               ", fall_position=" + std::to_string(info.fallPosition) +
               ", fall_flag=" + std::to_string(info.fallFlag) + ")";
      });

  py::class_<Recording>(m, "Recording", "A recording as the programs read it.")
      .def_readonly("path", &Recording::path)
      .def_readonly("samples", &Recording::samples)
      .def_readonly("positions", &Recording::positions)
      .def_readonly("info", &Recording::info)
      .def("__len__", [](const Recording& r) { return r.positions.shape(0); })
      .def("__repr__", [](const Recording& r) {
        return "Recording(" + py::repr(py::str(r.path)).cast<std::string>() + ", " +
               std::to_string(r.positions.shape(0)) +
               " samples, info=" + py::repr(r.info).cast<std::string>() + ")";
      });

  m.def("read_recording", &readRecording, py::arg("path"),
        "Reads a recording file and the .info beside it, if any.");
  m.def("evaluate", &evaluatePaths, py::arg("paths"), py::arg("settings") = py::none(),
        py::arg("jobs") = 0, py::arg("early_tolerance") = 1.0, py::arg("group_by") = py::none(),
        py::arg("group_by_column") = py::none(),
        "Evaluates the recordings under the paths as velmora-eval does; returns what its --json "
        "writes, as dicts and lists. settings: a dict or the path of a settings file.");
  m.def("explain", &explainPaths, py::arg("paths"), py::arg("settings") = py::none(),
        py::arg("space") = py::none(), py::arg("jobs") = 0, py::arg("early_tolerance") = 1.0,
        "Explains every wrong recording under the paths as velmora-tune explain does; returns "
        "what its --json writes, as dicts and lists of records.");
  m.def(
      "read_settings",
      [](const py::handle& path) {
        evaluation::SettingsProvenance ignored;
        return settingsToDict(readSettingsPath(pathText(path), ignored));
      },
      py::arg("path"),
      "The 35 settings a settings file gives (as --settings reads it over the defaults).");
  m.def("profile", &profilePath, py::arg("name"),
        "The path of the settings profile NAME (for example 'fa1'), usable as settings=.");
}
