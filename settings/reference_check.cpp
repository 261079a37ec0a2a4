#include "settings/reference_check.h"

#include <algorithm>
#include <map>
#include <set>

#include "settings/dosbox_properties.h"
#include "settings/setting_line.h"

namespace {

// How many single-byte edits, or swaps of two neighbours, make one text the other; more than
// `most` stops early as "too many".
std::size_t edits_between(std::string_view a, std::string_view b, std::size_t most) {
  if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > most) {
    return most + 1;
  }
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    d[i][0] = i;
  }
  for (std::size_t j = 0; j <= b.size(); ++j) {
    d[0][j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The one candidate nearest to the word when it is near enough to be what was meant, or "".
std::string nearest(std::string_view word, const std::vector<std::string>& candidates) {
  const std::string lower = lower_case(word);
  const std::size_t most = lower.size() <= 4 ? 1 : lower.size() <= 8 ? 2 : 3;
  std::size_t best = most + 1;
  std::string found;
  bool tied = false;
  for (const std::string& candidate : candidates) {
    const std::size_t edits = edits_between(lower, lower_case(candidate), most);
    if (edits < best) {
      best = edits;
      found = candidate;
      tied = false;
    } else if (edits == best && lower_case(candidate) != lower_case(found)) {
      tied = true;
    }
  }
  if (best <= most) {
    return tied ? "" : found;
  }
  // A letter too many at the end of a shortened name: "vgaa" for "vgaonly".
  if (lower.size() < 4) {
    return "";
  }
  const std::string_view stem = std::string_view(lower).substr(0, lower.size() - 1);
  found.clear();
  for (const std::string& candidate : candidates) {
    if (lower_case(candidate).starts_with(stem)) {
      if (!found.empty() && lower_case(found) != lower_case(candidate)) {
        return "";
      }
      found = candidate;
    }
  }
  return found;
}

// The text in double quotes, shortened where it is long: a message names it, not repeats it.
// Whole up to 60 bytes; a longer text up to its last blank within them, and "…", so that no
// word is cut (one word longer than that is cut where no UTF-8 sequence is).
std::string quoted(std::string_view text) {
  constexpr std::size_t kLongest = 60;
  std::string shown(1, '"');
  if (text.size() <= kLongest) {
    return shown.append(text).append(1, '"');
  }
  std::size_t cut = text.substr(0, kLongest + 1).find_last_of(" \t");
  if (cut == std::string_view::npos || cut == 0) {
    cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
      --cut;
    }
  }
  return shown.append(trim_setting_text(text.substr(0, cut))).append("\u2026\"");
}

// Where a value seems to end in a comment: "#" or ";" after a blank. A list of colours
// ("#000000 #0000aa") begins with one and is none.
std::size_t comment_in(std::string_view value) {
  if (value.starts_with('#') || value.starts_with('(')) {
    return std::string_view::npos;
  }
  for (std::size_t at = 1; at < value.size(); ++at) {
    if ((value[at] == '#' || value[at] == ';') && (value[at - 1] == ' ' || value[at - 1] == '\t')) {
      return at;
    }
  }
  return std::string_view::npos;
}

// "DOSBox Staging" of "DOSBox Staging 0.79.0": the fork, whichever release a game ships.
std::string_view without_version(std::string_view build) {
  return build.substr(0, build.rfind(' '));
}

// "DOSBox 0.74-3 takes a, b; DOSBox Staging 0.83 and DOSBox-X 0.83.21 take c", of the newest
// release of each build that has the property: an older table is kept for the names it knows
// and for games that ship that release.
std::string what_each_takes(const std::vector<KnownProperty>& known) {
  const auto& builds = dosbox_builds();
  std::vector<std::pair<std::string, std::vector<std::size_t>>> takes;  // what, by which builds
  for (const KnownProperty& each : known) {
    const bool later_has_it = std::any_of(known.begin(), known.end(), [&](const KnownProperty& k) {
      return k.build > each.build &&
             without_version(builds[k.build].name) == without_version(builds[each.build].name);
    });
    if (later_has_it) {
      continue;
    }
    const std::string what = what_it_takes(*each.property);
    auto same =
        std::find_if(takes.begin(), takes.end(), [&](const auto& t) { return t.first == what; });
    if (same == takes.end()) {
      takes.push_back({what, {}});
      same = takes.end() - 1;
    }
    if (std::find(same->second.begin(), same->second.end(), each.build) == same->second.end()) {
      same->second.push_back(each.build);
    }
  }
  std::string text;
  for (const auto& [what, by] : takes) {
    if (!text.empty()) {
      text += "; ";
    }
    for (std::size_t i = 0; i < by.size(); ++i) {
      text += (i == 0 ? "" : i + 1 == by.size() ? " and " : ", ") + builds[by[i]].name;
    }
    text += (by.size() == 1 ? " takes " : " take ") + what;
  }
  return text;
}

class Checker {
 public:
  ReferenceCheck finish() {
    const auto& builds = dosbox_builds();
    for (std::size_t build = 0; build < builds.size(); ++build) {
      std::size_t present = 0;
      for (const std::string& name : names_seen_) {
        const auto& known = properties_named(name);
        present += std::any_of(known.begin(), known.end(),
                               [&](const KnownProperty& k) { return k.build == build; });
      }
      const std::size_t all = names_in_build(build);
      if (present * 2 > all) {
        check_.warnings.insert(
            check_.warnings.begin(),
            {0, "holds " + std::to_string(present) + " of the " + std::to_string(all) +
                    " settings of " + builds[build].name +
                    ", a whole configuration: each will be set in every game, those games are "
                    "made for too; keep only the lines you mean to change"});
        ++check_.count;
        if (check_.warnings.size() > kMostWarningsTold) {
          check_.warnings.pop_back();
        }
        break;
      }
    }
    return std::move(check_);
  }

  void read_line(const ReferenceLine& line) {
    number_ = line.number;
    switch (line.kind) {
      case ReferenceLineKind::kComment:
        warn(quoted(line.text) + " is a comment to DOSBox, but a run takes it as a setting named " +
             quoted(line.name) +
             " and writes it over every such comment of every game; write it without \"=\" to "
             "keep it a comment");
        return;
      case ReferenceLineKind::kCommand:
        warn(quoted(line.text) + " stands in [" + std::string(line.section) + "]" +
             (line.section == "autoexec" ? ", where DOSBox runs it as a command"
                                         : ", a section no DOSBox has") +
             ", but a run takes it as a setting named " + quoted(line.name) +
             " and writes it over every such line of every game");
        return;
      case ReferenceLineKind::kSetting:
        break;
    }
    tell_of_a_second_value(line.name, line.value);
    read_setting(line.name, line.value);
  }

 private:
  void warn(std::string text) {
    ++check_.count;
    if (check_.warnings.size() < kMostWarningsTold) {
      check_.warnings.push_back({number_, std::move(text)});
    }
  }

  bool telling() const { return check_.warnings.size() < kMostWarningsTold; }

  void tell_of_a_second_value(std::string_view name, std::string_view value) {
    const auto [earlier, first] = values_set_.try_emplace(name, number_, value);
    if (!first && earlier->second.second != value) {
      warn(std::string(name) + " is set again, to " + quoted(value) + " (line " +
           std::to_string(earlier->second.first) + " set " + quoted(earlier->second.second) +
           "): the later line wins");
    }
    earlier->second = {number_, value};
  }

  void read_setting(std::string_view name, std::string_view value) {
    const std::string lower = lower_case(name);
    const auto& known = properties_named(lower);
    if (known.empty()) {
      tell_of_an_unknown_name(name);
      return;
    }
    names_seen_.insert(lower);
    const bool as_written = std::any_of(known.begin(), known.end(), [&](const KnownProperty& k) {
      return k.property->name == name;
    });
    if (!as_written) {
      warn(quoted(name) + " is written " + quoted(known.front().property->name) +
           " in game files, and a plain run matches names exactly as written: this line "
           "changes no game (--add-missing reads them as DOSBox does)");
    }
    const auto comment = comment_in(value);
    if (comment != std::string_view::npos) {
      warn("the value of " + std::string(name) + " ends in " + quoted(value.substr(comment)) +
           ", which DOSBox 0.74 takes as part of the value: every game would get " + quoted(value) +
           "; put the comment on a line of its own");
      value = trim_setting_text(value.substr(0, comment));
    }
    const bool taken =
        value.empty() || std::any_of(known.begin(), known.end(), [&](const KnownProperty& k) {
          return takes_value(*k.property, value);
        });
    if (!taken) {
      tell_of_a_value_not_taken(name, value, known);
    } else if (!value.empty()) {
      tell_of_a_value_only_forks_take(name, value, known);
    }
    if (games_are_made_for(lower)) {
      warn(std::string(name) +
           " is a setting games are made for: set in every game, it can keep some from "
           "starting; leave it out unless every game needs " +
           quoted(value));
    }
  }

  void tell_of_an_unknown_name(std::string_view name) {
    if (!telling()) {
      ++check_.count;
      return;
    }
    const std::string meant = nearest(name, every_property_name());
    warn("no DOSBox has a setting named " + quoted(name) +
         (meant.empty() ? "; a run will change only lines of exactly that name"
                        : "; did you mean " + quoted(meant) + "?"));
  }

  void tell_of_a_value_not_taken(std::string_view name, std::string_view value,
                                 const std::vector<KnownProperty>& known) {
    if (!telling()) {
      ++check_.count;
      return;
    }
    std::vector<std::string> listed;
    std::string_view word = value;
    for (const KnownProperty& each : known) {
      if (each.property->kind == PropertyKind::kOneOf) {
        listed.insert(listed.end(), each.property->values.begin(), each.property->values.end());
        const auto words = judged_words(*each.property, value);
        word = words.empty() ? value : words.front();
      }
    }
    const std::string meant = nearest(word, listed);
    warn("no DOSBox takes " + quoted(value) + " for " + std::string(name) +
         (meant.empty() ? "" : " (did you mean " + quoted(meant) + "?)") + ": " +
         what_each_takes(known));
  }

  void tell_of_a_value_only_forks_take(std::string_view name, std::string_view value,
                                       const std::vector<KnownProperty>& known) {
    const auto dosbox = std::find_if(known.begin(), known.end(),
                                     [](const KnownProperty& k) { return k.build == 0; });
    if (dosbox == known.end() || takes_value(*dosbox->property, value) ||
        check_.notes.size() >= kMostWarningsTold) {
      return;
    }
    std::vector<std::string_view> forks;
    for (const KnownProperty& each : known) {
      const std::string_view fork = without_version(dosbox_builds()[each.build].name);
      if (takes_value(*each.property, value) &&
          std::find(forks.begin(), forks.end(), fork) == forks.end()) {
        forks.push_back(fork);
      }
    }
    std::string takers;
    for (std::size_t i = 0; i < forks.size(); ++i) {
      takers += std::string(i == 0 ? "" : " and ") + std::string(forks[i]);
    }
    check_.notes.push_back(
        {number_, std::string(name) + "=" + std::string(value) + " is taken by " + takers +
                      ", not by DOSBox 0.74, which most Steam games ship: those games keep their "
                      "own " +
                      dosbox->property->name});
  }

  ReferenceCheck check_;
  std::size_t number_ = 0;
  std::map<std::string_view, std::pair<std::size_t, std::string_view>, std::less<>> values_set_;
  std::set<std::string> names_seen_;
};

}  // namespace

void for_each_reference_setting(std::string_view text,
                                const std::function<void(const ReferenceLine&)>& handle) {
  ReferenceLine read;
  std::string section;
  for_each_trimmed_line(text, [&](std::string_view line) {
    ++read.number;
    if (line.starts_with('[')) {
      const auto end = line.find(']');
      if (end != std::string_view::npos) {
        section = lower_case(trim_setting_text(line.substr(1, end - 1)));
      }
      return;
    }
    const auto setting = split_setting_line(line);
    if (!setting) {
      return;
    }
    read.value = reference_value(setting->value);
    if (read.value.empty()) {
      return;  // the loader stores nothing for it
    }
    read.section = section;
    read.text = line;
    read.name = setting->name;
    read.kind = ReferenceLineKind::kSetting;
    if (line.starts_with('#') || line.starts_with(';')) {
      read.kind = ReferenceLineKind::kComment;
    } else if (!section.empty() && (section == "autoexec" || !some_build_has_section(section))) {
      read.kind = ReferenceLineKind::kCommand;
    }
    handle(read);
  });
}

ReferenceCheck check_reference(std::string_view text) {
  Checker checker;
  for_each_reference_setting(text, [&](const ReferenceLine& line) { checker.read_line(line); });
  return checker.finish();
}
