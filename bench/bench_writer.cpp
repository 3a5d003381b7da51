// The YAML and JSON writers against libyaml's emitter, on the same data:
// config-like nesting, a list of records, and float-heavy lists. The peer is
// fed events built from the same Value tree, numbers formatted with
// std::to_chars, so both sides do the same work: walk, format, quote, write.
// Prints each time and, at the end, ours against libyaml's.
#include <benchmark/benchmark.h>
#include <yaml.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "encode/writer.hpp"

namespace ostrevane {
namespace {

Value str(std::string_view s) { return Value::string(s); }

void add(ValuePairList& pairs, std::string_view key, Value v) {
  pairs.push_back(ValuePair{str(key), std::move(v)});
}

Value make_config() {
  std::mt19937 rng(8);
  ValuePairList services;
  for (int i = 0; i < 2000; ++i) {
    ValuePairList svc;
    add(svc, "image",
        str("registry.example.com/team/service-" + std::to_string(i) + ":1.4." +
            std::to_string(i % 17)));
    add(svc, "replicas", Value::integer(1 + static_cast<int>(rng() % 5)));
    add(svc, "enabled", Value::boolean(i % 3 != 0));
    ValueList ports;
    ports.push_back(str(std::to_string(8000 + i % 100) + ":80"));
    ports.push_back(str("443"));
    add(svc, "ports", Value::sequence(std::move(ports)));
    ValuePairList env;
    add(env, "LOG_LEVEL", str(i % 2 ? "info" : "debug"));
    add(env, "DATABASE_URL", str("postgres://db.internal:5432/app_" + std::to_string(i)));
    add(env, "FEATURE_FLAGS", str("alpha,beta, gamma"));
    add(env, "TIMEOUT", Value::floating(2.5 + i % 7));
    add(svc, "environment", Value::mapping(std::move(env)));
    add(svc, "command", Value::null());
    add(svc, "description",
        str("Service number " + std::to_string(i) + ": handles requests # and retries on failure"));
    add(services, "service_" + std::to_string(i), Value::mapping(std::move(svc)));
  }
  ValuePairList root;
  add(root, "version", str("3.8"));
  add(root, "services", Value::mapping(std::move(services)));
  return Value::mapping(std::move(root));
}

Value make_records() {
  std::mt19937 rng(9);
  ValueList records;
  for (int i = 0; i < 50000; ++i) {
    ValuePairList r;
    add(r, "id", Value::integer(i));
    add(r, "name", str("user" + std::to_string(rng() % 100000)));
    add(r, "email", str("user" + std::to_string(i) + "@example.com"));
    add(r, "score", Value::floating(static_cast<double>(rng() % 100000) / 100.0));
    add(r, "active", Value::boolean(rng() % 2 == 0));
    ValueList tags;
    tags.push_back(str(i % 2 ? "admin" : "user"));
    tags.push_back(str("yes"));
    add(r, "tags", Value::sequence(std::move(tags)));
    records.push_back(Value::mapping(std::move(r)));
  }
  return Value::sequence(std::move(records));
}

Value make_floats() {
  std::mt19937_64 rng(10);
  std::uniform_real_distribution<double> dist(-1e6, 1e6);
  ValueList rows;
  for (int i = 0; i < 20000; ++i) {
    ValueList row;
    for (int j = 0; j < 10; ++j) row.push_back(Value::floating(dist(rng)));
    rows.push_back(Value::sequence(std::move(row)));
  }
  return Value::sequence(std::move(rows));
}

const Value& dataset(int which) {
  static const Value config = make_config();
  static const Value records = make_records();
  static const Value floats = make_floats();
  return which == 0 ? config : which == 1 ? records : floats;
}

const char* const kDatasetNames[] = {"config", "records", "floats"};

// ---- libyaml peer

int append_to_buffer(void* data, unsigned char* buffer, size_t size) {
  static_cast<OutputBuffer*>(data)->append(reinterpret_cast<char*>(buffer), size);
  return 1;
}

void emit(yaml_emitter_t* e, yaml_event_t* ev) {
  if (!yaml_emitter_emit(e, ev)) std::abort();
}

void emit_scalar(yaml_emitter_t* e, std::string_view text) {
  yaml_event_t ev;
  yaml_scalar_event_initialize(&ev, nullptr, nullptr,
                               reinterpret_cast<yaml_char_t*>(const_cast<char*>(text.data())),
                               static_cast<int>(text.size()), 1, 1, YAML_ANY_SCALAR_STYLE);
  emit(e, &ev);
}

void emit_value(yaml_emitter_t* e, const Value& v) {
  char buf[32];
  switch (v.kind()) {
    case ValueKind::Null:
      emit_scalar(e, "null");
      break;
    case ValueKind::Bool:
      emit_scalar(e, v.as_bool() ? "true" : "false");
      break;
    case ValueKind::Int: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.as_int());
      emit_scalar(e, std::string_view(buf, r.ptr - buf));
      break;
    }
    case ValueKind::Float: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.as_float());
      emit_scalar(e, std::string_view(buf, r.ptr - buf));
      break;
    }
    case ValueKind::String:
    case ValueKind::BigInt:
      emit_scalar(e, v.text());
      break;
    case ValueKind::Sequence: {
      yaml_event_t ev;
      yaml_sequence_start_event_initialize(&ev, nullptr, nullptr, 1, YAML_BLOCK_SEQUENCE_STYLE);
      emit(e, &ev);
      for (const Value& item : v.items()) emit_value(e, item);
      yaml_sequence_end_event_initialize(&ev);
      emit(e, &ev);
      break;
    }
    case ValueKind::Mapping: {
      yaml_event_t ev;
      yaml_mapping_start_event_initialize(&ev, nullptr, nullptr, 1, YAML_BLOCK_MAPPING_STYLE);
      emit(e, &ev);
      for (const ValuePair& p : v.pairs()) {
        emit_value(e, p.key);
        emit_value(e, p.value);
      }
      yaml_mapping_end_event_initialize(&ev);
      emit(e, &ev);
      break;
    }
    default:
      std::abort();
  }
}

OutputBuffer libyaml_dump(const Value& root) {
  OutputBuffer out(kYamlOutputInitialCapacity);
  yaml_emitter_t e;
  yaml_emitter_initialize(&e);
  yaml_emitter_set_output(&e, append_to_buffer, &out);
  yaml_emitter_set_unicode(&e, 1);
  yaml_event_t ev;
  yaml_stream_start_event_initialize(&ev, YAML_UTF8_ENCODING);
  emit(&e, &ev);
  yaml_document_start_event_initialize(&ev, nullptr, nullptr, nullptr, 1);
  emit(&e, &ev);
  emit_value(&e, root);
  yaml_document_end_event_initialize(&ev, 1);
  emit(&e, &ev);
  yaml_stream_end_event_initialize(&ev);
  emit(&e, &ev);
  yaml_emitter_delete(&e);
  return out;
}

// ---- benchmarks

void BM_yaml_ostrevane(benchmark::State& state) {
  const Value& v = dataset(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    OutputBuffer out = write_yaml_document(v, WriterOptions{});
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
  state.SetLabel(kDatasetNames[state.range(0)]);
}

void BM_yaml_libyaml(benchmark::State& state) {
  const Value& v = dataset(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    OutputBuffer out = libyaml_dump(v);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
  state.SetLabel(kDatasetNames[state.range(0)]);
}

void BM_json_ostrevane(benchmark::State& state) {
  const Value& v = dataset(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    OutputBuffer out;
    if (!write_json_value_guarded(out, v, JsonOptions{})) std::abort();
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
  state.SetLabel(kDatasetNames[state.range(0)]);
}

BENCHMARK(BM_yaml_ostrevane)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_yaml_libyaml)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_json_ostrevane)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Console output plus the times kept for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // One time per benchmark: the median when repetitions are asked for.
    for (const Run& r : runs) {
      const std::string name = r.run_name.function_name + "/" + r.run_name.args;
      if (r.run_type == Run::RT_Iteration && times_.count(name) == 0) {
        times_[name] = r.GetAdjustedRealTime();
      } else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        times_[name] = r.GetAdjustedRealTime();
      }
    }
  }
  void print_ratios() const {
    std::printf("\nratios (libyaml time / ostrevane time, higher is better):\n");
    for (int d = 0; d < 3; ++d) {
      char ours_name[64];
      char peer_name[64];
      std::snprintf(ours_name, sizeof ours_name, "BM_yaml_ostrevane/%d", d);
      std::snprintf(peer_name, sizeof peer_name, "BM_yaml_libyaml/%d", d);
      const auto ours = times_.find(ours_name);
      const auto peer = times_.find(peer_name);
      if (ours == times_.end() || peer == times_.end()) continue;
      std::printf("  yaml %-8s %6.1fx\n", kDatasetNames[d], peer->second / ours->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace
}  // namespace ostrevane

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ostrevane::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  benchmark::Shutdown();
  return 0;
}
