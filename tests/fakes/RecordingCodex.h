#pragma once

#include <string>

namespace zorvane::fakes {

// The desktop walks' `codex`, as the user has it in ~/.local/bin: signed in; keeps the image it was
// given as ~/received.png and the question as ~/prompt.txt, then runs `answer`, shell lines that
// write the reply to "$answer" (the file Zorvane reads).
inline std::string recordingCodex(const std::string& answer)
{
    return R"(#!/bin/sh
if [ "$1" = login ]; then echo 'Logged in using ChatGPT' >&2; exit 0; fi
for a in "$@"; do
  [ "$prev" = --output-last-message ] && answer="$a"
  case "$a" in --image=*) cp "${a#--image=}" "$HOME/received.png";; esac
  prev="$a"
done
cat > "$HOME/prompt.part" && mv "$HOME/prompt.part" "$HOME/prompt.txt"
)" + answer + "\n";
}

} // namespace zorvane::fakes
