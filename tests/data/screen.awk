# What stays on a terminal once a run's output (from script(1)) has been written to it: a
# carriage return goes back to the start of the row, and what follows overwrites it. Prints on
# one line the progress phases that were shown ("attente" for a wait for the file), each followed
# by a "+" when it showed a share strictly between 0 % and 100 %, then each row left on the
# screen after a "/", trailing blanks dropped; nothing else, so that a row that is not blank
# shows.
BEGIN { RS = "\001" }
{
  for (i = 1; i <= length($0); i++) {
    c = substr($0, i, 1)
    if (c == "\r") {
      col = 0
    } else if (c == "\n") {
      rows = rows "/" trimmed(row); row = ""; col = 0
    } else {
      row = substr(row, 1, col) c substr(row, col + 2); col++
    }
  }
  for (rest = $0; match(rest, /(Dessin|Ecriture) : [0-9]+ %/); rest = substr(rest, RSTART + RLENGTH)) {
    split(substr(rest, RSTART, RLENGTH), word, " ")
    shown[word[1]] = 1
    if (word[3] > 0 && word[3] < 100) partial[word[1]] = "+"
  }
  if (index($0, "Attente du fichier")) phases = "attente"
  if ("Dessin" in shown) phases = phases (phases ? " " : "") "dessin" partial["Dessin"]
  if ("Ecriture" in shown) phases = phases (phases ? " " : "") "ecriture" partial["Ecriture"]
}
END { if (trimmed(row) != "") rows = rows "/" trimmed(row); print phases rows }
function trimmed(s) { sub(/ +$/, "", s); return s }
