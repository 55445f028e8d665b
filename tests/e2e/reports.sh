# tests/e2e/reports.sh - the check's report texts, built from their pieces,
# for the end-to-end suites to compare whole reports with. Sourced.
# REPORT_EOL is the line break (LF by default), REPORT_HOSTS_DIR the hosts
# directory that a mismatch names (/etc/ by default).
REPORT_EOL=${REPORT_EOL-$'\n'}
REPORT_HOSTS_DIR=${REPORT_HOSTS_DIR-/etc/}

_lines() { local line; for line in "$@"; do printf '%s%s' "$line" "$REPORT_EOL"; done; }

p_head() {
    _lines "Начало проверки. Домен: [$1]" "" \
        "- Получаем IP адрес для домена [$1] от DNS службы компьютера (Эмуляция работы браузера)" "" "Результат:"
}
p_no_ip() {
    _lines "Ошибка! IP для Домена  [$1] не определено" "" "Причины:" \
        "1. Отсутствует подключение к Интернет" "2. Указанный домен не существует."
}
p_host_ip() { _lines "$2" "" "- Получаем IP $1 (Прямой запрос на DNS сервер)"; } # DOMAIN IP
p_server() { _lines "DNS сервер определен: $1" "" "Результат:"; }
p_lines() { (($#)) && _lines "$@"; return 0; }
p_match() { printf '%sIP адреса совпадают. Проблем связанных с доменом [%s] не обнаружено.' "$REPORT_EOL" "$1"; }
p_warning() {
    _lines "" "Внимание! Нет совпадения IP адреса. Подмена IP адреса в DNS службе компьютера или локальной сети. Проверьте компьютер на вирусы и файл HOSTS." \
        "" "Путь к фалу HOSTS по данным системного реестра:" "$REPORT_HOSTS_DIR"
}

# Whole reports, the server at 127.0.0.1.
r_match() { # DOMAIN HOST_IP SERVER_ADDRESS...
    local d=$1 ip=$2
    shift 2
    p_head "$d"; p_host_ip "$d" "$ip"; p_server 127.0.0.1; p_lines "$@"; p_match "$d"
}
r_mismatch() { # DOMAIN HOST_IP SERVER_ADDRESS...
    local d=$1 ip=$2
    shift 2
    p_head "$d"; p_host_ip "$d" "$ip"; p_server 127.0.0.1; p_lines "$@"; p_warning
}
r_no_ip() { p_head "$1"; p_no_ip "$1"; }
r_no_server() { p_head "$1"; p_host_ip "$1" "$2"; }
