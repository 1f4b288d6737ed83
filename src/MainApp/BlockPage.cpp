#include "MainApp/BlockPage.h"

#include <fmt/format.h>

#include <functional>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Schedules/ScheduleHelpers.h"

namespace zelto {

namespace {

constexpr std::string_view kBlockPath = "/block/";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The longest start of `text` of at most `maxBytes` bytes that doesn't end inside a UTF-8
// sequence (a run of more than three continuation bytes isn't UTF-8: it is cut anywhere).
std::string_view utf8Prefix(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  for (int back = 0; back < 3 && end > 0 && isContinuationByte(text[end]); ++back) --end;
  return text.substr(0, end);
}

// `settingsLink`: the application's page links its settings page (the guard's has none).
std::string pageHtml(const std::string& blocked, const std::string& timeLeft,
                     const QuoteZeltoPreferences* quote, bool settingsLink) {
  std::string quoteHtml;
  if (quote != nullptr && !quote->quote.empty()) {
    quoteHtml = fmt::format(
        "<blockquote><p>{}</p>{}</blockquote>\n", BlockPage::htmlEscape(quote->quote),
        quote->author.empty() ? ""
                              : "<footer>" + BlockPage::htmlEscape(quote->author) + "</footer>");
  }
  return fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Blocked by Zelto</title>\n"
      // The settings page's palette and type (app.css), inline: the guard's proxy serves this
      // page without the settings page's files.
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<style>body{{font-family:system-ui,\"Noto Sans\",\"DejaVu Sans\",sans-serif;"
      "line-height:1.45;max-width:40em;margin:4em auto;padding:1.5em;color:#1d2529;"
      "background:#fff;border:1px solid #c9d0cc;border-radius:8px}}"
      "html{{background:#f4f5f1;padding:0 12px}}h1{{border-left:4px solid #1d6b62;"
      "padding-left:.5em}}a{{color:#1d6b62}}code{{word-break:break-all}}"
      "blockquote{{margin:2em 0;font-style:italic;color:#4b585d}}"
      "</style>\n</head>\n<body>\n<h1>Blocked by Zelto</h1>\n"
      "<p id=\"blocked\">This address is blocked: <code>{}</code></p>\n"
      "<p id=\"time-left\">{}</p>\n{}{}</body>\n</html>\n",
      BlockPage::htmlEscape(BlockPage::shownAddress(blocked)), BlockPage::htmlEscape(timeLeft),
      quoteHtml, settingsLink ? "<p id=\"settings\"><a href=\"/\">Zelto settings</a></p>\n" : "");
}

// The answer to `method` `target`; the page's texts are asked for only when it is the page.
HttpAnswer answer(std::string_view method, std::string_view target, int proxyPort,
                  const std::function<std::string()>& timeLeft,
                  const std::function<const QuoteZeltoPreferences*()>& quote, bool settingsLink) {
  if (method != "GET") return {};
  if (target == "/proxy.pac") {
    if (proxyPort == 0) {
      return {503, "text/plain; charset=utf-8",
              "The filtering proxy is not listening yet; try again in a moment.\n"};
    }
    return {200, "application/x-ns-proxy-autoconfig", BlockPage::pacFile(proxyPort)};
  }
  if (!startsWith(target, kBlockPath)) return {};
  // The address is read the way the controller reads any block-page address.
  std::optional<std::string> blocked =
      ZeltoURL::getZeltoURLFromProxyURL("http://localhost" + std::string(target));
  if (!blocked) return {};
  return {200, "text/html; charset=utf-8", pageHtml(*blocked, timeLeft(), quote(), settingsLink)};
}

}  // namespace

HttpAnswer BlockPage::respond(Zelto& zelto, std::string_view method, std::string_view target,
                              int proxyPort, size_t quoteIndex) {
  return answer(
      method, target, proxyPort, [&] { return timeLeftText(zelto); },
      [&]() -> const QuoteZeltoPreferences* {
        if (ZeltoPreferences* prefs = zelto.prefs()) {
          if (ProfileZeltoPreferences* profile = prefs->defaultProfile();
              profile != nullptr && !profile->quotes.empty()) {
            return &profile->quotes[quoteIndex % profile->quotes.size()];
          }
        }
        return nullptr;
      },
      true);
}

HttpAnswer BlockPage::respond(std::string_view method, std::string_view target, int proxyPort,
                              const std::string& timeLeft) {
  return answer(
      method, target, proxyPort, [&] { return timeLeft; },
      []() -> const QuoteZeltoPreferences* { return nullptr; }, false);
}

std::string BlockPage::locationFor(Zelto& zelto, std::string_view url) {
  return locationFor(zelto.zeltoURL(), url);
}

std::string BlockPage::locationFor(const ZeltoURL& zeltoURL, std::string_view url) {
  return zeltoURL.getZeltoBlockedPageForURL(utf8Prefix(url, kMaxEmbeddedUrlBytes));
}

std::string BlockPage::pacFile(int proxyPort) {
  return fmt::format(
      "function FindProxyForURL(url, host) {{\n"
      "  if (isPlainHostName(host) || host == \"localhost\" || host == \"::1\" ||\n"
      "      host == \"[::1]\" || shExpMatch(host, \"127.*\") ||\n"
      "      shExpMatch(host, \"*.localhost\"))\n"
      "    return \"DIRECT\";\n"
      "  return \"PROXY 127.0.0.1:{}\";\n"
      "}}\n",
      proxyPort);
}

std::string BlockPage::timeLeftText(Zelto& zelto) {
  if (zelto.getTimeIntervalUntilUnblock() > 0) {
    return "Blocking ends in " + zelto.getRelativeTimeUntilUnblock() + ".";
  }
  if (zelto.isScheduleBlocked()) {
    auto end = zelto.getActiveEndSchedule();
    std::string when = ScheduleHelpers::unblockScheduleTimeWithDate(
        zelto.now(), end ? std::optional<Date>(end->toDate()) : std::nullopt, zelto.timeZone());
    if (when.empty()) return "Scheduled blocking runs now.";
    if (when == "∞") return "Scheduled blocking runs for a week or more.";
    return "Scheduled blocking ends at " + when + ".";
  }
  return "Blocking runs until it is stopped.";
}

std::string BlockPage::shownAddress(std::string_view url) {
  std::string out;
  size_t characters = 0;
  size_t continuations = 0;  // since the first byte of the last character
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (characters > 0 && isContinuationByte(byte) && continuations < 3) {
      ++continuations;
    } else {
      if (characters == kMaxShownCharacters) {
        out += "…";
        break;
      }
      ++characters;
      continuations = 0;
    }
    if (byte < 0x20 || byte == 0x7F) {
      out += fmt::format("\\x{:02X}", byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string BlockPage::htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace zelto
