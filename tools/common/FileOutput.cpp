#include "FileOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

std::string writeFilesAtomically(const std::vector<std::pair<fs::path, std::string>>& files) {
  std::vector<fs::path> temporaries;
  const auto discard = [&temporaries]() {
    for (const fs::path& temporary : temporaries) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
    }
  };
  for (const auto& [path, text] : files) {
    fs::path temporary = path;
    temporary += ".partial-" + std::to_string(::getpid());
    temporaries.push_back(temporary);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      const std::string reason = std::strerror(errno);
      discard();
      return "cannot write '" + path.string() + "': cannot create it: " + reason;
    }
    out << text;
    out.flush();
    if (!out) {
      discard();
      return "cannot write '" + path.string() + "': write error";
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code renameError;
    fs::rename(temporaries[i], files[i].first, renameError);
    if (renameError) {
      for (std::size_t done = 0; done < i; ++done) {
        std::error_code ignored;
        fs::remove(files[done].first, ignored);
      }
      discard();
      return "cannot write '" + files[i].first.string() + "': " + renameError.message();
    }
  }
  return {};
}

std::string writeFileAtomically(const fs::path& path, const std::string& text) {
  return writeFilesAtomically({{path, text}});
}
