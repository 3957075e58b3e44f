#pragma once
#include <filesystem>
#include <string>

namespace tarvex::app {

// Outputs appear only when a run succeeds: files are written into a hidden staging
// folder beside the target and moved into place by commit(); a run that throws leaves
// the target as it was (the destructor removes the staging folder).
class output_folder {
 public:
  explicit output_folder(const std::filesystem::path& target);
  ~output_folder();
  output_folder(const output_folder&) = delete;
  output_folder& operator=(const output_folder&) = delete;

  // Where to write `name` now.
  std::filesystem::path file(const std::string& name) const { return staging_ / name; }
  // Moves every staged file into the target folder (created when missing).
  void commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path staging_;
  bool committed_ = false;
};

// A single output file written through a temporary beside it and renamed on commit.
class output_file {
 public:
  explicit output_file(const std::filesystem::path& target);
  ~output_file();
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  const std::filesystem::path& temporary() const { return temporary_; }
  void commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  bool committed_ = false;
};

}  // namespace tarvex::app
