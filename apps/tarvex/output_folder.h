#pragma once
#include <filesystem>
#include <string>

namespace tarvex::app {

// Outputs appear only when a run succeeds, and all at once: files are written into a
// hidden staging folder beside the target; commit() syncs them, carries over whatever
// else the old folder held, and swaps the staging folder in with one atomic exchange
// (renameat2 RENAME_EXCHANGE) before removing the old one. A run that throws, or is
// stopped by SIGINT or SIGTERM, removes the staging folder and leaves the target as it
// was; one killed outright leaves a staging folder that the next run on the same
// target removes.
//
// A target that is a symbolic link is written through: the folder it points to is
// replaced, the link stays. A target that exists and is not a folder is refused, and
// so is an output file that is one of the run's inputs.
class output_folder {
 public:
  explicit output_folder(const std::filesystem::path& target);
  ~output_folder();
  output_folder(const output_folder&) = delete;
  output_folder& operator=(const output_folder&) = delete;

  // Where to write `name` now.
  std::filesystem::path file(const std::string& name) const { return staging_ / name; }
  // Makes the staged files the target folder's contents (created when missing).
  void commit();

 private:
  std::filesystem::path shown_;  // the target as the user named it, for messages
  std::filesystem::path target_;
  std::filesystem::path staging_;
  int slot_ = -1;  // among the paths removed on SIGINT and SIGTERM
  bool committed_ = false;
};

// A single output file written through a temporary beside it and renamed on commit,
// with the same rules: a link is written through, only a regular file is replaced,
// never an input.
class output_file {
 public:
  explicit output_file(const std::filesystem::path& target);
  ~output_file();
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  const std::filesystem::path& temporary() const { return temporary_; }
  void commit();

 private:
  std::filesystem::path shown_;
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int slot_ = -1;
  bool committed_ = false;
};

}  // namespace tarvex::app
