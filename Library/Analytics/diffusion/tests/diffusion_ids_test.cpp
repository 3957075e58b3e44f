#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
#include "Util/key.h"

namespace tarvex {
namespace {

using json = nlohmann::ordered_json;
using testing::scratch_folder;
using id_ptr = std::shared_ptr<const diffusion_id>;

std::shared_ptr<const discount_id> curve(const char* ccy, const char* name) {
  return std::make_shared<const discount_id>(discount_definition(name), currency(ccy));
}
std::shared_ptr<const diffusion_ir_id> ir(const char* ccy, const char* name) {
  return std::make_shared<const diffusion_ir_id>(curve(ccy, name));
}
std::shared_ptr<const default_id> entity(const char* name) {
  return std::make_shared<const default_id>(name, currency("USD"), "SNRFOR", "XR14", 2014);
}

bool equal(const data_id& a, const data_id& b) { return a == b; }

// The Error thrown by f must carry this text and come from validate() at file:line.
void expect_check(const std::function<void()>& f, const std::string& text, const std::string& file, int line) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << text;
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), text);
    EXPECT_EQ(e.location().function, "validate") << text;
    EXPECT_EQ(e.location().file, file) << text;
    EXPECT_EQ(e.location().line, line) << text;
  }
}

TEST(diffusion_ids, equal_content_is_one_set_element) {
  diffusion_id_set set;
  // Every pair is built from distinct but equal inner identifiers.
  set.insert(ir("USD", "OIS"));
  set.insert(ir("USD", "OIS"));
  EXPECT_EQ(set.size(), 1u);
  set.insert(std::make_shared<const diffusion_credit_id>(entity("ACME")));
  set.insert(std::make_shared<const diffusion_credit_id>(entity("ACME")));
  set.insert(std::make_shared<const diffusion_equity_id>(curve("USD", "OIS"), key("SPX")));
  set.insert(std::make_shared<const diffusion_equity_id>(curve("USD", "OIS"), key("SPX")));
  set.insert(std::make_shared<const diffusion_fx_id>(curve("USD", "OIS"), curve("EUR", "ESTR")));
  set.insert(std::make_shared<const diffusion_fx_id>(curve("USD", "OIS"), curve("EUR", "ESTR")));
  EXPECT_EQ(set.size(), 4u);
  // Anything differing in one field is another factor.
  set.insert(ir("USD", "SOFR"));
  set.insert(std::make_shared<const diffusion_credit_id>(entity("OTHER")));
  set.insert(std::make_shared<const diffusion_equity_id>(curve("USD", "OIS"), key("NDX")));
  set.insert(std::make_shared<const diffusion_equity_id>(curve("EUR", "ESTR"), key("SPX")));
  set.insert(std::make_shared<const diffusion_fx_id>(curve("EUR", "ESTR"), curve("USD", "OIS")));
  EXPECT_EQ(set.size(), 9u);
  EXPECT_EQ(set.count(std::make_shared<const diffusion_fx_id>(curve("USD", "OIS"), curve("EUR", "ESTR"))), 1u);

  // Kinds never compare equal: a curve's rate factor is not the curve.
  EXPECT_FALSE(equal(*ir("USD", "OIS"), *curve("USD", "OIS")));
  EXPECT_NE(ir("USD", "OIS")->hash(), curve("USD", "OIS")->hash());
  // Null pointers are set elements too, distinct from every identifier.
  EXPECT_TRUE(std::equal_to<id_ptr>()(nullptr, nullptr));
  EXPECT_FALSE(std::equal_to<id_ptr>()(nullptr, ir("USD", "OIS")));
}

TEST(diffusion_ids, hashes_follow_the_published_formulas) {
  const auto usd = curve("USD", "OIS"), eur = curve("EUR", "ESTR");
  const auto ir_usd = std::make_shared<const diffusion_ir_id>(usd);
  const auto ir_eur = std::make_shared<const diffusion_ir_id>(eur);
  EXPECT_EQ(ir_usd->hash(), key::hash(key("diffusion_ir_id"), usd->hash()));
  EXPECT_EQ(diffusion_credit_id(entity("ACME")).hash(), key::hash(key("diffusion_credit_id"), entity("ACME")->hash()));
  // The equity's own key seeds with the curve factor's hash; no class-name key.
  EXPECT_EQ(diffusion_equity_id(usd, key("SPX")).hash(), key::hash(key("SPX"), ir_usd->hash()));

  const diffusion_fx_id usd_eur(usd, eur), eur_usd(eur, usd);
  EXPECT_EQ(usd_eur.hash(), ir_usd->hash() ^ (2 * ir_eur->hash()));
  ASSERT_NE(ir_usd->hash(), ir_eur->hash());
  EXPECT_NE(usd_eur.hash(), eur_usd.hash());
  EXPECT_FALSE(equal(usd_eur, eur_usd));
  // A pair of legs that hash alike collides with its inverse, as the formula says.
  EXPECT_EQ(diffusion_fx_id(usd, curve("USD", "OIS")).hash(), diffusion_fx_id(curve("USD", "OIS"), usd).hash());
}

TEST(diffusion_ids, texts_and_accessors) {
  const auto usd = curve("USD", "OIS"), eur = curve("EUR", "ESTR");
  EXPECT_EQ(diffusion_ir_id(usd).to_string(), "USD.OIS");
  EXPECT_EQ(diffusion_credit_id(entity("ACME")).to_string(), "ACME.USD.SNRFOR.XR14.2014");
  const diffusion_equity_id spx(usd, key("SPX"));
  EXPECT_EQ(spx.to_string(), "SPX_USD.OIS");
  EXPECT_EQ(spx.name().to_string(), "SPX");
  const diffusion_fx_id usd_eur(usd, eur);
  EXPECT_EQ(usd_eur.to_string(), "USD.OIS_EUR.ESTR");
  EXPECT_EQ(diffusion_fx_id(eur, usd).to_string(), "EUR.ESTR_USD.OIS");
  EXPECT_EQ(usd_eur.diffusion_ir_id_domestic()->id(), usd);
  EXPECT_EQ(usd_eur.diffusion_ir_id_foreign()->id(), eur);
  EXPECT_EQ(diffusion_ir_id(usd).id(), usd);
  EXPECT_TRUE(equal(*spx.diffusion_ir_id_domestic(), diffusion_ir_id(curve("USD", "OIS"))));
}

TEST(diffusion_ids, discovery_adds_what_each_factor_needs) {
  const id_ptr numeraire = ir("USD", "OIS");
  const std::shared_ptr<const any_container> container;  // never read

  diffusion_id_set out;
  ir("USD", "SOFR")->discovery(numeraire, container, out);  // same currency, other curve
  numeraire->discovery(numeraire, container, out);
  std::make_shared<const diffusion_credit_id>(entity("ACME"))->discovery(numeraire, container, out);
  EXPECT_TRUE(out.empty());

  // Another currency: exactly the numeraire and USD per EUR.
  ir("EUR", "ESTR")->discovery(numeraire, container, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.count(ir("USD", "OIS")), 1u);
  EXPECT_EQ(out.count(std::make_shared<const diffusion_fx_id>(curve("USD", "OIS"), curve("EUR", "ESTR"))), 1u);
  ir("EUR", "ESTR")->discovery(numeraire, container, out);  // nothing new
  EXPECT_EQ(out.size(), 2u);

  diffusion_id_set equity;
  std::make_shared<const diffusion_equity_id>(curve("EUR", "ESTR"), key("SX5E"))->discovery(numeraire, container,
                                                                                               equity);
  ASSERT_EQ(equity.size(), 1u);
  EXPECT_EQ(equity.count(ir("EUR", "ESTR")), 1u);

  diffusion_id_set fx;
  std::make_shared<const diffusion_fx_id>(curve("JPY", "TONA"), curve("EUR", "ESTR"))->discovery(numeraire, container,
                                                                                                   fx);
  EXPECT_EQ(fx.size(), 2u);
  EXPECT_EQ(fx.count(ir("JPY", "TONA")) + fx.count(ir("EUR", "ESTR")), 2u);

  // A numeraire that is not a rate factor is refused rather than misread.
  diffusion_id_set none;
  EXPECT_THROW(ir("EUR", "ESTR")->discovery(std::make_shared<const diffusion_credit_id>(entity("ACME")), container,
                                            none),
               Error);
}

TEST(diffusion_ids, construction_checks_name_their_source_and_line) {
  const std::string ir_file = "Library/Analytics/diffusion/ir/id/diffusion_ir_id";
  expect_check([] { diffusion_ir_id(nullptr); }, "invalide discount_id!", ir_file, 89);
  expect_check([] { diffusion_credit_id(nullptr); }, "invalide default id!",
               "Library/Analytics/diffusion/credit/id/diffusion_credit_id", 59);
  // Equity and FX build their rate factors first, whose own check fires.
  expect_check([] { diffusion_equity_id(nullptr, key("SPX")); }, "invalide discount_id!", ir_file, 89);
  expect_check([] { diffusion_fx_id(curve("USD", "OIS"), nullptr); }, "invalide discount_id!", ir_file, 89);
  expect_check([] { diffusion_fx_id(nullptr, curve("USD", "OIS")); }, "invalide discount_id!", ir_file, 89);
}

// The record of `object` with one nested member replaced by the "empty" marker.
template <class C>
std::function<void()> read_with_empty(const std::shared_ptr<const C>& object, const std::string& member,
                                      const scratch_folder& dir) {
  json doc{{"root", json::parse(C::json_to_string(object))}};
  doc["root"][member] = json{{"Class", "empty"}};
  const std::string file = dir.file(member + ".json");
  serialization::access::write_json(file, doc);
  return [file] { C::read_from_json(file); };
}

TEST(diffusion_ids, records_with_missing_members_fail_like_the_constructors) {
  scratch_folder dir;
  const auto usd = curve("USD", "OIS"), eur = curve("EUR", "ESTR");
  expect_check(read_with_empty(std::make_shared<const diffusion_ir_id>(usd), "id", dir), "invalide discount_id!",
               "Library/Analytics/diffusion/ir/id/diffusion_ir_id", 89);
  expect_check(read_with_empty(std::make_shared<const diffusion_credit_id>(entity("ACME")), "id", dir),
               "invalide default id!", "Library/Analytics/diffusion/credit/id/diffusion_credit_id", 59);
  const auto spx = std::make_shared<const diffusion_equity_id>(usd, key("SPX"));
  expect_check(read_with_empty(spx, "diffusion_domestic_ir_id", dir), "invalide domestic id!",
               "Library/Analytics/diffusion/equity/id/diffusion_equity_id", 74);
  const auto fx = std::make_shared<const diffusion_fx_id>(usd, eur);
  const std::string fx_file = "Library/Analytics/diffusion/fx/id/diffusion_fx_id";
  expect_check(read_with_empty(fx, "diffusion_ir_id_domestic", dir), "invalide domestic id!", fx_file, 91);
  expect_check(read_with_empty(fx, "diffusion_ir_id_foreign", dir), "invalide foreign id!", fx_file, 92);

  // Binary: an FX record whose foreign leg is the marker alone.
  multi_process_stream s;
  s << std::string("tarvex::diffusion_fx_id") << std::string("tarvex::diffusion_ir_id")
    << std::string("tarvex::discount_id") << std::string("OIS") << std::string("USD") << std::string("empty");
  serialization::access::write_binary(dir.file("fx.bin"), s.GetRawData());
  expect_check([&] { diffusion_fx_id::read_from_binary(dir.file("fx.bin")); }, "invalide foreign id!", fx_file, 92);
}

std::vector<std::string> keys_of(const json& j) {
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  return keys;
}

TEST(diffusion_ids, json_records_nest_the_inner_identifiers) {
  const auto usd = curve("USD", "OIS"), eur = curve("EUR", "ESTR");
  const json ir_json = json::parse(diffusion_ir_id::json_to_string(std::make_shared<const diffusion_ir_id>(usd)));
  EXPECT_EQ(ir_json.dump(),
            R"({"Class":"tarvex::diffusion_ir_id","id":{"Class":"tarvex::discount_id","id":"OIS","ccy":"USD"}})");

  const json credit = json::parse(
      diffusion_credit_id::json_to_string(std::make_shared<const diffusion_credit_id>(entity("ACME"))));
  EXPECT_EQ(keys_of(credit), (std::vector<std::string>{"Class", "id"}));
  EXPECT_EQ(keys_of(credit["id"]),
            (std::vector<std::string>{"Class", "name", "ccy", "seniority", "restructuring", "isda"}));
  EXPECT_EQ(credit["id"]["isda"], 2014);

  const json spx = json::parse(
      diffusion_equity_id::json_to_string(std::make_shared<const diffusion_equity_id>(usd, key("SPX"))));
  EXPECT_EQ(keys_of(spx), (std::vector<std::string>{"Class", "diffusion_domestic_ir_id", "name"}));
  EXPECT_EQ(spx["diffusion_domestic_ir_id"], ir_json);
  EXPECT_EQ(spx["name"], "SPX");

  const json fx = json::parse(diffusion_fx_id::json_to_string(std::make_shared<const diffusion_fx_id>(usd, eur)));
  EXPECT_EQ(keys_of(fx), (std::vector<std::string>{"Class", "diffusion_ir_id_domestic", "diffusion_ir_id_foreign"}));
  EXPECT_EQ(fx["diffusion_ir_id_domestic"], ir_json);
  EXPECT_EQ(fx["diffusion_ir_id_foreign"]["id"]["ccy"], "EUR");

  EXPECT_EQ(diffusion_fx_id::json_to_string(nullptr), "{\n  \"Class\": \"empty\"\n}");
}

// Files and the registries give back an equal identifier with the same record.
template <class C>
void expect_round_trips(const std::shared_ptr<const C>& object, const scratch_folder& dir) {
  C::write_to_json(dir.file("id.json"), object);
  C::write_to_binary(dir.file("id.bin"), object);
  for (const auto& back : {C::read_from_json(dir.file("id.json")), C::read_from_binary(dir.file("id.bin"))}) {
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(equal(*back, *object)) << object->to_string();
    EXPECT_EQ(back->hash(), object->hash());
    EXPECT_EQ(C::json_to_string(back), C::json_to_string(object));
  }

  // Registry entries take a holder of the class itself.
  const std::string name = demangle(typeid(C));
  const auto* to_json = JsonSerializationRegistry().find(name);
  const auto* to_binary = BinarySerializationRegistry().find(name);
  ASSERT_TRUE(to_json && to_binary) << name;
  std::shared_ptr<const C> holder = object, json_back, binary_back;
  json_document j;
  (*to_json)(j, &holder, false);
  (*to_json)(j, &json_back, true);
  multi_process_stream s;
  (*to_binary)(s, &holder, false);
  multi_process_stream r;
  r.SetRawData(s.GetRawData());
  (*to_binary)(r, &binary_back, true);
  ASSERT_TRUE(json_back && binary_back);
  EXPECT_TRUE(equal(*json_back, *object));
  EXPECT_TRUE(equal(*binary_back, *object));
}

TEST(diffusion_ids, files_and_registries_round_trip) {
  scratch_folder dir;
  const auto usd = curve("USD", "OIS"), eur = curve("EUR", "ESTR");
  expect_round_trips(std::make_shared<const diffusion_ir_id>(usd), dir);
  expect_round_trips(std::make_shared<const diffusion_credit_id>(
                         std::make_shared<const default_id>("ACME", currency("EUR"), "SUBLT2", "MM14", 2003)),
                     dir);
  expect_round_trips(std::make_shared<const diffusion_equity_id>(eur, key("SX5E")), dir);
  expect_round_trips(std::make_shared<const diffusion_fx_id>(usd, eur), dir);

  // A file written from null reads back as a placeholder object, not as null.
  diffusion_ir_id::write_to_binary(dir.file("null.bin"), nullptr);
  EXPECT_NE(diffusion_ir_id::read_from_binary(dir.file("null.bin")), nullptr);
}

TEST(diffusion_ids, corrupt_records_are_refused) {
  scratch_folder dir;
  const auto fx = std::make_shared<const diffusion_fx_id>(curve("USD", "OIS"), curve("EUR", "ESTR"));
  diffusion_fx_id::write_to_binary(dir.file("fx.bin"), fx);
  std::vector<unsigned char> payload;
  serialization::access::read_binary(dir.file("fx.bin"), payload);
  const std::string file = dir.file("payload.bin");
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    serialization::access::write_binary(
        file, std::vector<unsigned char>(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_THROW(diffusion_fx_id::read_from_binary(file), Error) << cut;
  }
  // Flipped bytes either throw or read something; never crash (run under the sanitizers).
  for (std::size_t i = 0; i < payload.size(); ++i) {
    auto flipped = payload;
    flipped[i] ^= 0x41;
    serialization::access::write_binary(file, flipped);
    try {
      diffusion_fx_id::read_from_binary(file);
    } catch (const std::exception&) {
    }
  }
  // The inner values are validated by their own classes while they are read.
  json doc{{"root", json::parse(diffusion_fx_id::json_to_string(fx))}};
  doc["root"]["diffusion_ir_id_foreign"]["id"]["ccy"] = "eur";
  serialization::access::write_json(dir.file("ccy.json"), doc);
  EXPECT_EQ(testing::error_text([&] { diffusion_fx_id::read_from_json(dir.file("ccy.json")); }),
            "Expected letters to be true, but got false.  currency code 'eur' is not three upper-case letters");
  doc["root"]["diffusion_ir_id_foreign"]["id"].erase("ccy");
  serialization::access::write_json(dir.file("noccy.json"), doc);
  EXPECT_THROW(diffusion_fx_id::read_from_json(dir.file("noccy.json")), json::out_of_range);
}

}  // namespace
}  // namespace tarvex
