#pragma once
#include <cstdint>
#include <string>

#include "Market/currency.h"
#include "Market/data_id.h"

namespace tarvex {

// Names the default risk of one credit entity as quoted on the CDS market: the
// reference entity, the currency of the contracts, the seniority of the debt
// ("SNRFOR", "SUBLT2"), the restructuring clause ("XR14", "MR14", "CR14", "MM14") and
// the year of the ISDA credit-derivatives definitions (2003 or 2014).
// Text "<name>.<ccy>.<seniority>.<restructuring>.<isda>".
class default_id : public market_data_id {
 public:
  default_id(std::string name, currency ccy, std::string seniority, std::string restructuring,
             std::int32_t isda = 2014);

  const std::string& name() const { return name_; }
  const currency& ccy() const { return ccy_; }
  const std::string& seniority() const { return seniority_; }
  const std::string& restructuring() const { return restructuring_; }
  std::int32_t isda() const { return isda_; }

  std::string to_string() const override;
  std::uint64_t hash() const override;

  template <class Self, class W>
  static void fields(Self& self, W& w) {
    w("name", self.name_);
    w("ccy", self.ccy_);
    w("seniority", self.seniority_);
    w("restructuring", self.restructuring_);
    w("isda", self.isda_);
  }

 protected:
  bool same_as(const data_id& other) const override;

 private:
  friend struct ::tarvex::serialization::object_io;
  default_id() = default;
  void initialize();

  std::string name_;
  currency ccy_;
  std::string seniority_;
  std::string restructuring_;
  std::int32_t isda_ = 2014;
};

}  // namespace tarvex
