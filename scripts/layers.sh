#!/usr/bin/env bash
# The layers run one way: views (app/) -> the check engine (engine/) -> the DNS,
# hosts and verdict rules (resolve/) -> platform interfaces (platform/), with
# common/ below all. Fails, naming the line, when a file includes a layer above
# its own, or a toolkit, TLS, HTTP or Windows header outside platform/.
set -uo pipefail
cd "$(dirname "$0")/.."
status=0
# LAYER: the include patterns its files may not use
declare -A forbidden=(
  [common]='"(platform|resolve|engine|app)/'
  [platform]='"(resolve|engine|app)/'
  [resolve]='"(engine|app)/|"platform/(Widgets|MsgBox|FormDesign|Program)\.h"'
  [engine]='"app/|"platform/(Widgets|MsgBox|FormDesign|Program)\.h"'
)
system='<(Q[A-Za-z]+|openssl/|curl/|windows\.h|winsock2\.h|schannel\.h|wincrypt\.h|winhttp\.h)'
for layer in common platform resolve engine; do
  pattern=${forbidden[$layer]}
  [[ $layer != platform ]] && pattern="$pattern|$system"
  while IFS= read -r hit; do
    echo "layers: $hit" >&2
    status=1
  done < <(grep -nE "^#include ($pattern)" -r "$layer" --include='*.h' --include='*.cpp')
done
# The views reach the platform through interfaces only: no toolkit or system header either.
while IFS= read -r hit; do
  echo "layers: $hit" >&2
  status=1
done < <(grep -nE "^#include $system" -r app --include='*.h' --include='*.cpp')
[[ $status -eq 0 ]] && echo "layers: every include points down"
exit $status
