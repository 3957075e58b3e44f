#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Analytics/common/correlation_manager.h"
#include "Analytics/diffusion/credit/id/diffusion_credit_id.h"
#include "Analytics/diffusion/equity/id/diffusion_equity_id.h"
#include "Analytics/diffusion/fx/id/diffusion_fx_id.h"
#include "Analytics/diffusion/ir/id/diffusion_ir_id.h"
#include "Core/demangle.h"
#include "Core/error.h"
#include "Core/multi_process_stream.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"
#include "Serialization/serialization_registry.h"

namespace tarvex {
namespace {

using json = nlohmann::ordered_json;
using testing::error_text;
using testing::scratch_folder;
using ids = correlation_manager::id_list;
using id_ptr = std::shared_ptr<const diffusion_id>;

std::shared_ptr<const discount_id> curve(const char* ccy, const char* name) {
  return std::make_shared<const discount_id>(discount_definition(name), currency(ccy));
}
id_ptr ir(const char* ccy) { return std::make_shared<const diffusion_ir_id>(curve(ccy, "OIS")); }
id_ptr fx(const char* domestic, const char* foreign) {
  return std::make_shared<const diffusion_fx_id>(curve(domestic, "OIS"), curve(foreign, "OIS"));
}
id_ptr equity(const char* name) { return std::make_shared<const diffusion_equity_id>(curve("USD", "OIS"), key(name)); }

// Entries 10 i + j: every element tells where it came from, and the matrix is not
// symmetric, so a transposed block shows.
matrix<double> numbered(std::size_t n) {
  matrix<double> m(n, n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) m(i, j) = 10.0 * i + j;
  return m;
}

const datetime today(46027.0);

// The Error thrown by f must carry this text and come from function:line. A check
// written over two lines is reported at its first (GCC) or its last (clang): `last`.
void expect_check(const std::function<void()>& f, const std::string& text, const std::string& function, int line,
                  int last = 0) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << text;
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), text);
    EXPECT_EQ(e.location().function, function) << text;
    EXPECT_EQ(e.location().file, "Library/Analytics/common/correlation_manager") << text;
    if (last == 0)
      EXPECT_EQ(e.location().line, line) << text;
    else
      EXPECT_TRUE(e.location().line == line || e.location().line == last) << text << " at " << e.location().line;
  }
}

TEST(correlation_manager, blocks_of_a_two_and_a_one_factor_diffusion) {
  const correlation_manager m(today, {ir("USD"), fx("USD", "EUR")}, {2, 1}, numbered(3));
  EXPECT_EQ(m.valuation_date(), today);
  EXPECT_EQ(m.number_of_factors(ir("USD")), 2u);
  EXPECT_EQ(m.number_of_factors(fx("USD", "EUR")), 1u);
  // Rows of the second, columns of the first: the 1 x 2 block at row 2, columns 0-1.
  EXPECT_EQ(m.pair_correlation_matrix({fx("USD", "EUR")}, {ir("USD")}), (matrix<double>{{20.0, 21.0}}));
  EXPECT_EQ(m.pair_correlation_matrix({ir("USD")}, {fx("USD", "EUR")}), (matrix<double>{{2.0}, {12.0}}));
  EXPECT_EQ(m.pair_correlation_matrix(m.ids(), m.ids()), numbered(3));
  EXPECT_EQ(m.pair_correlation_matrix({}, m.ids()).rows(), 0u);
}

TEST(correlation_manager, requested_order_permutes_the_blocks) {
  // Factors per id 1, 2, 1, 2 over a 6 x 6 matrix; the reference maps each result
  // index to the full matrix's index through the block starts 0, 1, 3, 4.
  const ids listed{ir("USD"), ir("EUR"), fx("USD", "EUR"), equity("SPX")};
  const std::vector<std::size_t> factors{1, 2, 1, 2}, starts{0, 1, 3, 4};
  const correlation_manager m(today, listed, factors, numbered(6));
  const std::vector<std::size_t> rows_order{3, 0, 2, 1}, columns_order{2, 3, 3, 0};
  ids rows, columns;
  std::vector<std::size_t> row_index, column_index;
  for (auto k : rows_order) {
    rows.push_back(listed[k]);
    for (std::size_t i = 0; i < factors[k]; ++i) row_index.push_back(starts[k] + i);
  }
  for (auto k : columns_order) {
    columns.push_back(listed[k]);
    for (std::size_t j = 0; j < factors[k]; ++j) column_index.push_back(starts[k] + j);
  }
  const auto pair = m.pair_correlation_matrix(rows, columns);
  ASSERT_EQ(pair.rows(), row_index.size());
  ASSERT_EQ(pair.columns(), column_index.size());
  for (std::size_t i = 0; i < pair.rows(); ++i)
    for (std::size_t j = 0; j < pair.columns(); ++j)
      EXPECT_EQ(pair(i, j), 10.0 * row_index[i] + column_index[j]) << i << " " << j;
}

TEST(correlation_manager, identifiers_are_found_by_content) {
  const auto usd = ir("USD");
  const correlation_manager m(today, {usd, equity("SPX")}, {2, 1}, numbered(3));
  const auto same = ir("USD");  // another object, equal content
  ASSERT_NE(same, usd);
  EXPECT_EQ(m.number_of_factors(same), 2u);
  EXPECT_EQ(m.pair_correlation_matrix({equity("SPX")}, {same}), (matrix<double>{{20.0, 21.0}}));
  EXPECT_EQ(m.id(0), usd);
  EXPECT_EQ(m.ids().size(), 2u);
  EXPECT_THROW(m.id(2), Error);

  // An FX rate is not its inverse, nor a rate factor of the same text.
  const correlation_manager f(today, {fx("USD", "EUR")}, {1}, numbered(1));
  expect_check([&] { f.number_of_factors(fx("EUR", "USD")); }, " id not fount in the list", "find", 115);
  expect_check([&] { f.pair_correlation_matrix({ir("USD")}, {fx("USD", "EUR")}); }, " id not fount in the list",
               "find", 115);
  expect_check([&] { f.pair_correlation_matrix({fx("USD", "EUR")}, {nullptr}); }, " id not fount in the list", "find",
               115);
}

TEST(correlation_manager, zero_factor_entries_own_no_rows_or_columns) {
  const id_ptr a = ir("USD"), b = fx("USD", "EUR"),
               z = std::make_shared<const diffusion_credit_id>(
                   std::make_shared<const default_id>("ACME", currency("USD"), "SNRFOR", "XR14"));
  const correlation_manager m(today, {a, z, b}, {2, 0, 1}, numbered(3));
  EXPECT_EQ(m.number_of_factors(z), 0u);
  EXPECT_EQ(m.pair_correlation_matrix({a, z, b}, {z, b}), (matrix<double>{{2.0}, {12.0}, {22.0}}));
  EXPECT_EQ(m.pair_correlation_matrix({z}, {a, b}).rows(), 0u);
  // Repeated identifiers repeat their blocks.
  EXPECT_EQ(m.pair_correlation_matrix({b, b}, {b, a}), (matrix<double>{{22.0, 20.0, 21.0}, {22.0, 20.0, 21.0}}));
  // Blocks beyond a too small matrix are refused when the manager is built.
  EXPECT_THROW(correlation_manager(today, {a, b}, {2, 1}, numbered(2)), Error);
}

TEST(correlation_manager, validation_messages_in_order) {
  expect_check([] { correlation_manager(today, {}, {}, numbered(1)); }, "ids_ are empty!", "validate", 139);
  expect_check([] { correlation_manager(today, {}, {1}, numbered(1)); }, "ids_ are empty!", "validate", 139);
  expect_check([] { correlation_manager(today, {ir("USD")}, {}, numbered(1)); }, "factors are empty!", "validate", 140);
  expect_check([] { correlation_manager(today, {ir("USD"), ir("EUR")}, {1, 1, 1}, numbered(3)); },
               "Expected ids_.size() == factors_.size() to be true, but got false.  factors size 3 is different from "
               "ids size 2",
               "validate", 146, 147);
  EXPECT_THROW(correlation_manager(today, {ir("USD"), nullptr}, {1, 1}, numbered(2)), Error);
}

std::vector<std::string> keys_of(const json& j) {
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  return keys;
}

std::shared_ptr<const correlation_manager> three_kinds() {
  matrix<double> c = numbered(4);
  c(1, 2) = std::nextafter(0.3, 1.0);  // bits must survive
  return std::make_shared<const correlation_manager>(
      datetime(46027.5), ids{ir("USD"), fx("USD", "EUR"), equity("SPX")}, std::vector<std::size_t>{2, 1, 1}, c);
}

void expect_same(const correlation_manager& a, const correlation_manager& b) {
  EXPECT_EQ(a.valuation_date().value(), b.valuation_date().value());
  EXPECT_EQ(a.factors(), b.factors());
  ASSERT_EQ(a.correlation().size(), b.correlation().size());
  EXPECT_EQ(std::memcmp(a.correlation().data(), b.correlation().data(), a.correlation().size() * sizeof(double)), 0);
  ASSERT_EQ(a.ids().size(), b.ids().size());
  for (std::size_t k = 0; k < a.ids().size(); ++k) {
    const diffusion_id &ida = *a.id(k), &idb = *b.id(k);  // typeid of a call's result warns under clang
    EXPECT_EQ(demangle(typeid(ida)), demangle(typeid(idb)));
    EXPECT_TRUE(static_cast<const data_id&>(*a.id(k)) == *b.id(k)) << k;
  }
  EXPECT_EQ(a.pair_correlation_matrix(a.ids(), a.ids()), b.pair_correlation_matrix(a.ids(), a.ids()));
}

TEST(correlation_manager, record_shape_and_round_trips) {
  scratch_folder dir;
  const auto m = three_kinds();
  const json j = json::parse(correlation_manager::json_to_string(m));
  EXPECT_EQ(keys_of(j), (std::vector<std::string>{"Class", "valuation_date", "factors", "correlation", "ids"}));
  EXPECT_EQ(j["Class"], "tarvex::correlation_manager");
  EXPECT_EQ(j["valuation_date"].get<double>(), 46027.5);
  EXPECT_EQ(j["factors"].dump(), "[2,1,1]");
  EXPECT_EQ(j["correlation"]["class"], "tarvex.matrix");
  EXPECT_EQ(j["correlation"]["rows"], 4);
  ASSERT_EQ(j["ids"].size(), 3u);
  EXPECT_EQ(j["ids"][0]["Class"], "tarvex::diffusion_ir_id");
  EXPECT_EQ(j["ids"][1]["Class"], "tarvex::diffusion_fx_id");
  EXPECT_EQ(j["ids"][2]["Class"], "tarvex::diffusion_equity_id");
  EXPECT_EQ(j["ids"][2]["name"], "SPX");

  correlation_manager::write_to_json(dir.file("m.json"), m);
  correlation_manager::write_to_binary(dir.file("m.bin"), m);
  expect_same(*correlation_manager::read_from_json(dir.file("m.json")), *m);
  expect_same(*correlation_manager::read_from_binary(dir.file("m.bin")), *m);
  EXPECT_EQ(correlation_manager::json_to_string(correlation_manager::read_from_binary(dir.file("m.bin"))),
            correlation_manager::json_to_string(m));
  EXPECT_TRUE(JsonSerializationRegistry().find("tarvex::correlation_manager"));
  EXPECT_TRUE(BinarySerializationRegistry().find("tarvex::correlation_manager"));
}

TEST(correlation_manager, corrupt_records_are_refused) {
  scratch_folder dir;
  const auto m = three_kinds();
  const json doc{{"root", json::parse(correlation_manager::json_to_string(m))}};
  const auto edit = [&](const std::function<void(json&)>& change) {
    json d = doc;
    change(d["root"]);
    serialization::access::write_json(dir.file("edit.json"), d);
    return [&] { correlation_manager::read_from_json(dir.file("edit.json")); };
  };
  EXPECT_EQ(error_text(edit([](json& r) { r["ids"][1]["Class"] = "tarvex::diffusion_cheese_id"; })),
            "class 'tarvex::diffusion_cheese_id' is not registered for serialization as tarvex::diffusion_id");
  EXPECT_EQ(error_text(edit([](json& r) { r["ids"][1] = json{{"Class", "empty"}}; })),
            "Expected ids_[k] != nullptr to be true, but got false.  identifier 1 is null");
  expect_check(edit([](json& r) { r["factors"].push_back(1); }),
               "Expected ids_.size() == factors_.size() to be true, but got false.  factors size 4 is different from "
               "ids size 3",
               "validate", 146, 147);
  expect_check(edit([](json& r) { r["ids"] = json::array(); }), "ids_ are empty!", "validate", 139);
  EXPECT_THROW(edit([](json& r) { r.erase("factors"); })(), json::out_of_range);
  EXPECT_THROW(edit([](json& r) { r["factors"] = "two"; })(), json::type_error);
  EXPECT_THROW(edit([](json& r) { r["valuation_date"] = "today"; })(), json::type_error);

  // Binary: every truncation throws, every flipped byte throws or reads.
  correlation_manager::write_to_binary(dir.file("m.bin"), m);
  std::vector<unsigned char> payload;
  serialization::access::read_binary(dir.file("m.bin"), payload);
  const std::string file = dir.file("payload.bin");
  for (std::size_t cut = 0; cut < payload.size(); cut += 3) {
    serialization::access::write_binary(
        file, std::vector<unsigned char>(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_THROW(correlation_manager::read_from_binary(file), Error) << cut;
  }
  for (std::size_t i = 0; i < payload.size(); i += 5) {
    auto flipped = payload;
    flipped[i] ^= 0x80;
    serialization::access::write_binary(file, flipped);
    try {
      correlation_manager::read_from_binary(file);
    } catch (const std::exception&) {
    }
  }
  // An identifier count far beyond the bytes left names the file.
  multi_process_stream s;
  s << std::string("tarvex::correlation_manager") << 46027.0 << std::uint32_t{1} << std::uint64_t{1}
    << std::uint64_t{1} << std::uint64_t{1} << 1.0 << std::uint32_t{1u << 30};
  serialization::access::write_binary(file, s.GetRawData());
  EXPECT_EQ(error_text([&] { correlation_manager::read_from_binary(file); }).rfind(file + ": ", 0), 0u);
}

// Counts from a file are checked against the matrix before anything is sized from
// them: wrapped sums once wrote through a null pointer, and 8000 factors on a small
// matrix allocated gigabytes at the first extraction.
TEST(correlation_manager, factor_counts_must_fit_the_matrix) {
  scratch_folder dir;
  const json good = json::parse(correlation_manager::json_to_string(three_kinds()));
  const std::string file = dir.file("m.json"), binary = dir.file("m.bin");
  const auto read_both = [&](const json& factors) {
    json d{{"root", good}};
    d["root"]["factors"] = factors;
    serialization::access::write_json(file, d);
    const std::string from_json = error_text([&] { correlation_manager::read_from_json(file); });
    // The same record in binary: the good one with its three counts overwritten.
    correlation_manager::write_to_binary(binary, three_kinds());
    std::vector<unsigned char> bytes;
    serialization::access::read_binary(binary, bytes);
    const std::size_t counts = 8 + std::string("tarvex::correlation_manager").size() + 8 + 4;
    for (std::size_t k = 0; k < 3; ++k) {
      const std::uint64_t f = factors[k].get<std::uint64_t>();
      std::memcpy(bytes.data() + counts + 8 * k, &f, 8);
    }
    serialization::access::write_binary(binary, bytes);
    EXPECT_EQ(error_text([&] { correlation_manager::read_from_binary(binary); }), from_json) << factors.dump();
    return from_json;
  };
  const std::string check = "Expected factors_[k] <= size - start to be true, but got false.  ";
  EXPECT_EQ(read_both(json{std::uint64_t(-1), 2, 3}),
            check + "block of identifier 0 (18446744073709551615 factors) starts at row 0 of a correlation of 4 x 4");
  EXPECT_EQ(read_both(json{2, 1, 8000}),
            check + "block of identifier 2 (8000 factors) starts at row 3 of a correlation of 4 x 4");
  EXPECT_EQ(read_both(json{2, 1, 2}),
            check + "block of identifier 2 (2 factors) starts at row 3 of a correlation of 4 x 4");
  // Blocks may leave trailing factors unlisted: the record is only read up to them.
  EXPECT_EQ(error_text([&] { correlation_manager(today, {ir("USD"), ir("EUR")}, {1, 2}, numbered(4)); }), "no error");

  // Counts that are not unsigned integers never reach a conversion.
  for (const char* bad : {"1e300", "-1", "2.5"}) {
    json d{{"root", good}};
    d["root"]["factors"][0] = json::parse(bad);
    serialization::access::write_json(file, d);
    try {
      correlation_manager::read_from_json(file);
      ADD_FAILURE() << bad;
    } catch (const json::out_of_range& e) {
      EXPECT_EQ(std::string(e.what()), "[json.exception.out_of_range.406] expected an integer from 0 to "
                                       "18446744073709551615, got " + json::parse(bad).dump());
    }
  }
}

// Both readers accept the same objects: a binary record the JSON writer could not
// write (a NaN entry, a name that is not UTF-8) is refused when read.
TEST(correlation_manager, binary_reader_accepts_only_what_json_can_hold) {
  scratch_folder dir;
  const auto m = three_kinds();
  correlation_manager::write_to_binary(dir.file("m.bin"), m);
  std::vector<unsigned char> payload;
  serialization::access::read_binary(dir.file("m.bin"), payload);
  const auto patched = [&](const std::string& from, const std::string& to) {
    std::string bytes(payload.begin(), payload.end());
    const auto at = bytes.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    bytes.replace(at, from.size(), to);
    const std::string file = dir.file("patched.bin");
    serialization::access::write_binary(file, std::vector<unsigned char>(bytes.begin(), bytes.end()));
    return error_text([&] { correlation_manager::read_from_binary(file); });
  };
  const double marked = m->correlation()(1, 2), nan = std::numeric_limits<double>::quiet_NaN();
  std::string from(8, '\0'), to(8, '\0');
  std::memcpy(from.data(), &marked, 8);
  std::memcpy(to.data(), &nan, 8);
  EXPECT_EQ(patched(from, to), dir.file("patched.bin") + ": corrupt data: non-finite number");
  EXPECT_EQ(patched("SPX", "S\xffX"), dir.file("patched.bin") + ": corrupt data: text that is not UTF-8");
  EXPECT_EQ(patched("EUR", "E\xc3R"), dir.file("patched.bin") + ": corrupt data: text that is not UTF-8");
  // Constructed objects are held to the same: what exists can be written.
  matrix<double> c = numbered(2);
  c(0, 1) = nan;
  EXPECT_NE(error_text([&] { correlation_manager(today, {ir("USD")}, {2}, c); }), "no error");
}

}  // namespace
}  // namespace tarvex
