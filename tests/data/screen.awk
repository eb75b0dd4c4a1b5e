# What stays on a terminal once a run's output (from script(1)) is written to it, a carriage
# return going back to the start of the row: on one line, the progress phases shown ("attente"
# for a wait for the file), each with a "+" when it showed a share strictly between 0 % and
# 100 %, then each row left on the screen after a "/", trailing blanks dropped.
BEGIN { RS = "\001" }
{
  for (i = 1; i <= length($0); i++) {
    c = substr($0, i, 1)
    if (c == "\r") col = 0
    else if (c == "\n") { rows = rows "/" trimmed(row); row = ""; col = 0 }
    else { row = substr(row, 1, col) c substr(row, col + 2); col++ }
  }
  for (rest = $0; match(rest, /(Dessin|Ecriture) : [0-9]+ %/); rest = substr(rest, RSTART + 1)) {
    split(substr(rest, RSTART, RLENGTH), word, " ")
    shown[word[1]] = shown[word[1]] (word[3] > 0 && word[3] < 100 ? "+" : "")
  }
  phases = index($0, "Attente du fichier") ? "attente" : ""
  for (n = split("Ecriture Dessin", name, " "); n > 0; n--)
    if (name[n] in shown) phases = phases " " tolower(name[n]) substr(shown[name[n]], 1, 1)
}
END { if (trimmed(row) != "") rows = rows "/" trimmed(row); sub(/^ /, "", phases)
  print phases rows }
function trimmed(s) { sub(/ +$/, "", s); return s }
