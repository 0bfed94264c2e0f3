#pragma once
// Keeping the station's secrets out of everything the web side shows: tokens,
// and the user information and query strings of server URLs (where
// passwords and API keys live).
#include <string>
#include <string_view>
#include <vector>

#include "upload/ServerAddress.h" // ShownUrl

namespace tavrik {

class Redactor {
  public:
    // A text that is never shown (a token); it reads "***" wherever it stood.
    // Texts shorter than four characters are not taken: they would blot out words.
    void AddSecret(std::string_view text);
    // A configured URL: its user information and query become secrets too,
    // so they are caught even where they stand apart from the URL.
    void AddUrl(std::string_view url);

    // The text with every URL in it shown by ShownUrl and every secret blotted out.
    std::string Clean(std::string_view text) const;

  private:
    std::vector<std::string> secrets_;
};

// Equal texts, compared in a time that does not depend on where they differ.
bool ConstantTimeEqual(std::string_view a, std::string_view b);

} // namespace tavrik
