#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "Analytics/parameters/parameter_markovian_hjm.h"
#include "Core/check.h"
#include "Core/multi_process_stream.h"
#include "Core/tests/testing.h"
#include "Serialization/access.h"

namespace tarvex {
namespace {

using testing::error_text;
using testing::scratch_folder;
using hjm = parameter_markovian_hjm;
using ptr = std::shared_ptr<const hjm>;

std::vector<datetime> dates_from(double first, std::size_t count) {
  std::vector<datetime> d;
  for (std::size_t i = 0; i < count; ++i) d.emplace_back(first + 365.0 * i);
  return d;
}

matrix<double> filled(std::size_t rows, std::size_t columns, double base) {
  matrix<double> m(rows, columns);
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < columns; ++c) m(r, c) = base * (1 + r) + 0.001 * c;
  return m;
}

matrix<double> correlation(std::size_t n) {
  matrix<double> c(n, n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) c(i, j) = i == j ? 1.0 : 0.3 + 0.1 * (i + j);
  return c;
}

std::shared_ptr<const day_count_convention> convention_with_holidays() {
  auto cal = std::make_shared<const calendar>(true, std::vector<datetime>{datetime(2026, 12, 25), datetime(2027, 1, 1)});
  return std::make_shared<const day_count_convention>(day_count_convention_type::act_act_isda, cal);
}

ptr make(std::size_t decay_rows, std::size_t vol_rows, std::size_t n,
         parameter_markovian_hjm_type type = parameter_markovian_hjm_type::mean_reversion) {
  return std::make_shared<const hjm>(filled(decay_rows, n, 0.03), filled(vol_rows, n, 0.01), correlation(n),
                                     dates_from(46027, decay_rows), dates_from(46027, vol_rows),
                                     convention_with_holidays(), type);
}

std::vector<double> state_of(const hjm& p) {
  std::vector<double> s(p.state_parameters_size());
  EXPECT_EQ(p.get_state_parameters(s.data()), s.size());
  return s;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void expect_identical(const hjm& a, const hjm& b) {
  EXPECT_TRUE(same_bits(state_of(a), state_of(b)));
  EXPECT_EQ(a.decays(), b.decays());
  EXPECT_EQ(a.volatilities(), b.volatilities());
  EXPECT_EQ(a.correlation(), b.correlation());
  EXPECT_EQ(a.decays_dates(), b.decays_dates());
  EXPECT_EQ(a.volatilities_dates(), b.volatilities_dates());
  EXPECT_EQ(a.model_type(), b.model_type());
  EXPECT_EQ(a.day_convention()->type(), b.day_convention()->type());
  EXPECT_EQ(a.day_convention()->calendar_ptr()->dates(), b.day_convention()->calendar_ptr()->dates());
  EXPECT_EQ(a.state_parameters_size(), b.state_parameters_size());
}

TEST(parameter_markovian_hjm, validation_messages_and_their_order) {
  const auto conv = std::make_shared<const day_count_convention>();
  const auto build = [&](const matrix<double>& k, const matrix<double>& s, const matrix<double>& c, std::size_t kd,
                         std::size_t sd) {
    return [=] { hjm(k, s, c, dates_from(46027, kd), dates_from(46027, sd), conv, {}); };
  };
  EXPECT_EQ(error_text(build(filled(3, 2, 0.1), filled(2, 2, 0.1), correlation(2), 2, 2)),
            "Expected decays_.rows() == decays_dates_.size() to be true, but got false.  decays size 3 is differents "
            "from decays dates size 2");
  EXPECT_EQ(error_text(build(filled(2, 2, 0.1), filled(3, 2, 0.1), correlation(2), 2, 1)),
            "Expected volatilities_.rows() == volatilities_dates_.size() to be true, but got false.  volatilities size "
            "3 is differents from volatilities dates size 1");
  // A 2x3 correlation fails before the factor counts are compared.
  EXPECT_EQ(error_text(build(filled(2, 2, 0.1), filled(2, 3, 0.1), matrix<double>(2, 3), 2, 2)),
            "Expected correlation_.rows() == correlation_.columns() to be true, but got false.  correlation number of "
            "rows 2 is differents from correlation number of columns 3");
  EXPECT_EQ(error_text(build(filled(2, 2, 0.1), filled(2, 3, 0.1), correlation(2), 2, 2)),
            "Expected volatilities_.columns() == decays_.columns() to be true, but got false.  volatilities number of "
            "factors 3 is differents from decays number of factors 2");
  EXPECT_EQ(error_text(build(filled(2, 2, 0.1), filled(2, 2, 0.1), correlation(3), 2, 2)),
            "Expected correlation_.rows() == decays_.columns() to be true, but got false.  correlation size 3 is "
            "differents from number of factors 2");
  auto skew = correlation(2);
  skew(0, 1) += 1e-9;
  EXPECT_EQ(error_text(build(filled(2, 2, 0.1), filled(2, 2, 0.1), skew, 2, 2)), "correlation matrix is not symetric");

  try {
    build(filled(3, 2, 0.1), filled(2, 2, 0.1), correlation(2), 2, 2)();
  } catch (const Error& e) {
    EXPECT_EQ(e.location().function, "validate");
    EXPECT_EQ(e.location().file, "Library/Analytics/parameters/parameter_markovian_hjm");
  }
  const auto unsorted = [&] {
    hjm(filled(2, 1, 0.1), filled(1, 1, 0.1), correlation(1), {datetime(46100.0), datetime(46027.0)},
        dates_from(46027, 1), conv, {});
  };
  EXPECT_EQ(error_text(unsorted), "decays dates are not strictly ascending");
  const auto seventh = [&] {
    hjm(filled(1, 1, 0.1), filled(1, 1, 0.1), correlation(1), dates_from(46027, 1), dates_from(46027, 1), conv,
        static_cast<parameter_markovian_hjm_type>(7));
  };
  EXPECT_EQ(error_text(seventh), "model_type 7 is neither 0 (mean_reversion) nor 1 (decay_factor)");
}

TEST(parameter_markovian_hjm, state_layout_offsets_and_round_trip) {
  // Two factors, decays 2x2, volatilities 3x2: 4 + 6 + 1 = 11, correlation (1,0) at 10.
  const auto p = make(2, 3, 2);
  EXPECT_EQ(p->state_parameters_size(), 11u);
  EXPECT_EQ(p->decays_offset(), 0u);
  EXPECT_EQ(p->volatilities_offset(), 4u);
  EXPECT_EQ(p->correlation_offset(), 10u);
  auto s = state_of(*p);
  EXPECT_EQ(s[1], p->decays()(0, 1));
  EXPECT_EQ(s[4 + 2 * 1 + 1], p->volatilities()(1, 1));
  EXPECT_EQ(s[10], p->correlation()(1, 0));

  // get then set with the same buffer leaves the object unchanged.
  hjm copy = *p;
  copy.set_state_parameters(s.data());
  expect_identical(copy, *p);

  // One factor: no correlation block.
  EXPECT_EQ(make(3, 2, 1)->state_parameters_size(), 5u);
}

TEST(parameter_markovian_hjm, set_state_parameters_fills_both_triangles_and_the_diagonal) {
  hjm p = *make(1, 1, 3);
  std::vector<double> s = state_of(p);
  ASSERT_EQ(s.size(), 3u + 3u + 3u);
  s[6] = 0.11;  // (1,0)
  s[7] = 0.22;  // (2,0)
  s[8] = 0.33;  // (2,1)
  EXPECT_EQ(p.set_state_parameters(s.data()), 9u);
  const auto& c = p.correlation();
  EXPECT_EQ(c(1, 0), 0.11);
  EXPECT_EQ(c(0, 1), 0.11);
  EXPECT_EQ(c(2, 0), 0.22);
  EXPECT_EQ(c(0, 2), 0.22);
  EXPECT_EQ(c(2, 1), 0.33);
  EXPECT_EQ(c(1, 2), 0.33);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(c(i, i), 1.0);
}

TEST(parameter_markovian_hjm, adjoints_accumulate_into_their_positions) {
  const auto p = make(2, 3, 3);
  std::vector<double> g(p->state_parameters_size(), 0.0);
  const vector<double> a{1.0, 2.0, 3.0};
  p->decays_aad(a, 1, g.data());
  p->decays_aad(a, 1, g.data());  // contributions sum
  p->volatility_aad(a, 2, g.data());
  matrix<double> adj(3, 3);
  for (std::size_t i = 0; i < 3; ++i)
    for (std::size_t j = 0; j < 3; ++j) adj(i, j) = 10.0 * i + j;
  p->correlation_aad(adj, g.data());
  const auto before = g;
  p->finalize_aad(g.data());
  EXPECT_EQ(g, before);

  std::vector<double> expected(g.size(), 0.0);
  for (std::size_t j = 0; j < 3; ++j) {
    expected[3 + j] = 2 * a[j];            // decay row 1
    expected[6 + 2 * 3 + j] = a[j];        // volatility row 2
  }
  const std::size_t c = p->correlation_offset();
  expected[c + 0] = adj(1, 0) + adj(0, 1);  // (1,0)
  expected[c + 1] = adj(2, 0) + adj(0, 2);  // (2,0)
  expected[c + 2] = adj(2, 1) + adj(1, 2);  // (2,1)
  EXPECT_EQ(g, expected);

  EXPECT_THROW(p->decays_aad(vector<double>{1.0}, 0, g.data()), Error);
  EXPECT_THROW(p->volatility_aad(a, 3, g.data()), Error);
}

TEST(parameter_markovian_hjm, json_text_shape) {
  const auto p = make(2, 2, 3, parameter_markovian_hjm_type::decay_factor);
  const std::string text = hjm::json_to_string(p);
  EXPECT_EQ(text.rfind("{\n  \"Class\": \"tarvex::parameter_markovian_hjm\",\n  \"decays\": {", 0), 0u) << text;
  const auto j = nlohmann::ordered_json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"Class", "decays", "volatilities", "correlation", "decays_dates",
                                            "volatilities_dates", "day_convention", "model_type"}));
  // A 2x3 matrix: "rows" 2, "columns" 3, three arrays of two numbers.
  EXPECT_EQ(j["decays"]["rows"], 2);
  EXPECT_EQ(j["decays"]["columns"], 3);
  ASSERT_EQ(j["decays"]["data"].size(), 3u);
  EXPECT_EQ(j["decays"]["data"][2][1].get<double>(), p->decays()(1, 2));
  EXPECT_EQ(j["model_type"], 1);
  EXPECT_EQ(j["day_convention"]["type"], 3);

  // Null object: only the marker; reading it gives a default object, not null.
  EXPECT_EQ(hjm::json_to_string(nullptr), "{\n  \"Class\": \"empty\"\n}");
}

TEST(parameter_markovian_hjm, json_and_binary_files_round_trip_bit_for_bit) {
  scratch_folder dir;
  for (const auto& p : {make(2, 3, 2), make(1, 4, 1, parameter_markovian_hjm_type::decay_factor), make(3, 1, 3)}) {
    hjm::write_to_json(dir.file("p.json"), p);
    hjm::write_to_binary(dir.file("p.bin"), p);
    const auto from_json = hjm::read_from_json(dir.file("p.json"));
    const auto from_binary = hjm::read_from_binary(dir.file("p.bin"));
    expect_identical(*from_json, *p);
    expect_identical(*from_binary, *p);
    EXPECT_EQ(hjm::json_to_string(from_json), hjm::json_to_string(p));
    EXPECT_EQ(hjm::json_to_string(from_binary), hjm::json_to_string(p));
  }
  // The file holds the object under "root".
  nlohmann::ordered_json doc;
  serialization::access::read_json(dir.file("p.json"), doc);
  EXPECT_EQ(doc.size(), 1u);
  EXPECT_EQ(doc.at("root").at("Class"), "tarvex::parameter_markovian_hjm");

  // Empty volatility dates: written as null, read back empty.
  const auto no_vols = std::make_shared<const hjm>(filled(2, 2, 0.03), matrix<double>(0, 2), correlation(2),
                                                   dates_from(46027, 2), std::vector<datetime>{},
                                                   convention_with_holidays(), parameter_markovian_hjm_type::mean_reversion);
  EXPECT_TRUE(nlohmann::ordered_json::parse(hjm::json_to_string(no_vols))["volatilities_dates"].is_null());
  hjm::write_to_json(dir.file("nv.json"), no_vols);
  expect_identical(*hjm::read_from_json(dir.file("nv.json")), *no_vols);

  hjm::write_to_json(dir.file("null.json"), nullptr);
  hjm::write_to_binary(dir.file("null.bin"), nullptr);
  for (const auto& back : {hjm::read_from_json(dir.file("null.json")), hjm::read_from_binary(dir.file("null.bin"))}) {
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->number_of_factors(), 0u);
    EXPECT_EQ(back->state_parameters_size(), 0u);
  }
}

TEST(parameter_markovian_hjm, corrupt_json_is_refused) {
  scratch_folder dir;
  const auto p = make(2, 2, 2);
  testing::write_raw(dir.file("noroot.json"), "{\"other\": 1}");
  EXPECT_THROW(hjm::read_from_json(dir.file("noroot.json")), nlohmann::ordered_json::out_of_range);
  testing::write_raw(dir.file("bad.json"), hjm::json_to_string(p).substr(0, 100));
  EXPECT_EQ(error_text([&] { hjm::read_from_json(dir.file("bad.json")); }), dir.file("bad.json") + ": malformed JSON");

  auto doc = nlohmann::ordered_json{{"root", nlohmann::ordered_json::parse(hjm::json_to_string(p))}};
  auto edit = [&](auto change) {
    auto d = doc;
    change(d["root"]);
    serialization::access::write_json(dir.file("edit.json"), d);
    return [&] { hjm::read_from_json(dir.file("edit.json")); };
  };
  EXPECT_THROW(edit([](auto& r) { r["decays"]["rows"] = "two"; })(), nlohmann::ordered_json::type_error);
  EXPECT_THROW(edit([](auto& r) { r.erase("model_type"); })(), nlohmann::ordered_json::out_of_range);
  EXPECT_THROW(edit([](auto& r) { r["correlation"]["data"][1].erase(1); })(), nlohmann::ordered_json::out_of_range);
  // Sizes that disagree are refused by validation.
  EXPECT_EQ(error_text(edit([](auto& r) { r["decays_dates"].erase(1); })),
            "Expected decays_.rows() == decays_dates_.size() to be true, but got false.  decays size 2 is differents "
            "from decays dates size 1");
}

TEST(parameter_markovian_hjm, corrupt_binary_never_crashes) {
  scratch_folder dir;
  const auto p = make(2, 3, 2);
  const std::string file = dir.file("p.bin");
  hjm::write_to_binary(file, p);
  std::vector<unsigned char> payload;
  serialization::access::read_binary(file, payload);

  // The file itself: truncation and any flipped bit are caught by the header.
  const std::string raw = testing::read_raw(file);
  for (std::size_t cut : {std::size_t{0}, std::size_t{5}, raw.size() / 2, raw.size() - 1}) {
    testing::write_raw(dir.file("cut.bin"), raw.substr(0, cut));
    EXPECT_THROW(hjm::read_from_binary(dir.file("cut.bin")), Error) << cut;
  }
  for (std::size_t i = 0; i < raw.size(); i += 7) {
    std::string flipped = raw;
    flipped[i] = static_cast<char>(flipped[i] ^ 0x04);
    testing::write_raw(dir.file("flip.bin"), flipped);
    EXPECT_THROW(hjm::read_from_binary(dir.file("flip.bin")), Error) << i;
  }

  // Payloads with a valid header: every truncation throws, every flip either throws
  // or reads something (never crashes, checked under the sanitizers).
  const auto write_payload = [&](const std::vector<unsigned char>& bytes) {
    serialization::access::write_binary(dir.file("payload.bin"), bytes);
    return dir.file("payload.bin");
  };
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    const std::vector<unsigned char> shorter(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(hjm::read_from_binary(write_payload(shorter)), std::exception) << cut;
  }
  for (std::size_t i = 0; i < payload.size(); ++i) {
    auto flipped = payload;
    flipped[i] ^= 0x80;
    try {
      hjm::read_from_binary(write_payload(flipped));
    } catch (const std::exception&) {
    }
  }

  // Oversized counts: the matrix rows and a date count far beyond the bytes left.
  const std::string cls = "tarvex::parameter_markovian_hjm";
  multi_process_stream huge_rows;
  huge_rows << cls << (std::uint64_t{1} << 40) << std::uint64_t{2} << 1.0;
  EXPECT_THROW(hjm::read_from_binary(write_payload(huge_rows.GetRawData())), Error);
  multi_process_stream huge_dates;
  huge_dates << cls;
  for (int m = 0; m < 3; ++m) huge_dates << std::uint64_t{0} << std::uint64_t{0};
  huge_dates << std::numeric_limits<std::uint32_t>::max();
  try {
    hjm::read_from_binary(write_payload(huge_dates.GetRawData()));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind(dir.file("payload.bin") + ": ", 0), 0u) << e.what();
  }
}

}  // namespace
}  // namespace tarvex
