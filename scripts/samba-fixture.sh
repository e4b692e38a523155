#!/usr/bin/env bash
# A throw-away Active Directory domain controller (Samba) for the directory integration tests.
#
#   samba-fixture.sh start STATE_DIR [--wine-prefix=DIR]   provision (once), restore, start, populate,
#                                                          export the snapshot (STATE_DIR/export.ldif)
#   samba-fixture.sh stop STATE_DIR [--wine-prefix=DIR]    stop the server, drop its network namespace
#   samba-fixture.sh run STATE_DIR -- COMMAND [ARGS...]    run COMMAND inside the server's namespace
#
# The domain is CORP.EXAMPLE.TEST with a fixed domain SID, so every object of tests/directory/fixture.ldif
# gets the same SID on every run. Provisioning takes seconds to tens of seconds, so its result is kept as a
# tarball in STATE_DIR and each start restores it (a fraction of a second).
#
# The server runs in a network namespace of its own and listens on 127.0.0.1:389 there, so several build
# trees can each have one and nothing leaves the machine. Test programs reach it through `run`. Wine's
# sockets belong to the wineserver, not to the program, so for Windows programs `start` also starts a
# persistent wineserver for the given prefix inside the namespace, and `stop` ends it.
#
# Needs root (namespaces, and samba itself). Without it, or without namespace support, start and run exit
# with 77, which the tests declare as their skip code.
set -euo pipefail

readonly skip_code=77
readonly realm=CORP.EXAMPLE.TEST
readonly domain_sid=S-1-5-21-1000000001-2000000002-3000000003
# The test domain's administrator password; the domain exists only for the tests and only in the namespace.
readonly admin_password='Korva-Admin-1'
readonly admin_upn=Administrator@corp.example.test
readonly policy_dn='CN=Valexor,CN=Quillmarsh,CN=Program Data,DC=corp,DC=example,DC=test'
readonly large_size=1000000

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$here/.." && pwd)
fixture_dir=$repo_root/tests/directory

usage() {
    sed -n '2,7p' "$0" >&2
    exit 2
}

(($# >= 2)) || usage
command=$1
state=$2
shift 2
wine_prefix=
if [[ $command != run ]]; then
    for arg in "$@"; do
        case $arg in
        --wine-prefix=*) wine_prefix=${arg#--wine-prefix=} ;;
        *) usage ;;
        esac
    done
fi
mkdir -p "$state"
state=$(cd "$state" && pwd)
# One namespace per state folder; the name must stay short.
netns=korva-$(printf '%s' "$state" | md5sum | cut -c1-10)
dc=$state/dc
log=$state/fixture.log

say() { echo "samba-fixture: $*" >&2; }

skip_unless_possible() {
    if [[ $(id -u) != 0 ]]; then
        say "SKIP: not root; the Samba fixture needs network namespaces and runs samba as root"
        exit $skip_code
    fi
    if ! command -v samba >/dev/null || ! command -v samba-tool >/dev/null || ! command -v ldapmodify >/dev/null; then
        say "SKIP: samba, samba-tool or ldapmodify is not installed (scripts/install-deps.sh installs them)"
        exit $skip_code
    fi
    local probe=korva-probe-$$
    if ! ip netns add "$probe" 2>/dev/null; then
        say "SKIP: network namespaces are not available here (ip netns add failed)"
        exit $skip_code
    fi
    ip netns del "$probe"
}

in_ns() { ip netns exec "$netns" "$@"; }

write_smb_conf() {
    local dir=$1
    mkdir -p "$dir/etc" "$dir/log" "$dir/cache" "$dir/run" "$dir/ncalrpc" "$dir/winbindd" "$dir/ntp_signd"
    cat >"$dir/etc/smb.conf" <<CONF
[global]
	netbios name = DC1
	realm = $realm
	workgroup = CORP
	server role = active directory domain controller
	server services = ldap, cldap, kdc, rpc
	dcerpc endpoint servers = epmapper, samr, netlogon, lsarpc, drsuapi, dssetup, unixinfo, backupkey
	disable netbios = yes
	interfaces = lo
	bind interfaces only = yes
	private dir = $dir/private
	lock directory = $dir
	state directory = $dir/state
	cache directory = $dir/cache
	binddns dir = $dir/bind-dns
	pid directory = $dir/run
	ncalrpc dir = $dir/ncalrpc
	winbindd socket directory = $dir/winbindd
	ntp signd socket directory = $dir/ntp_signd
	logging = file
	log file = $dir/log/samba.log
	idmap_ldb:use rfc2307 = yes
	ldap server require strong auth = no
CONF
}

# Starts samba in the namespace under a small supervisor that stays its parent and reaps it, so that the
# server never lingers as an orphan after `stop`.
start_samba() {
    setsid bash -c '
        ip netns exec "$1" samba -s "$2/etc/smb.conf" -l "$2/log" -F --no-process-group -M single &
        echo $! >"$3/samba.pid"
        wait $!
    ' supervisor "$netns" "$dc" "$state" </dev/null >>"$log" 2>&1 &
    echo $! >"$state/supervisor.pid"
}

wait_for_ldap() {
    local i
    for ((i = 0; i < 300; i++)); do
        if in_ns ldapsearch -x -H ldap://127.0.0.1 -b "" -s base -LLL dnsHostName >/dev/null 2>&1; then
            return 0
        fi
        if ! kill -0 "$(cat "$state/supervisor.pid")" 2>/dev/null; then
            say "samba exited during start; see $dc/log and $log"
            return 1
        fi
        sleep 0.1
    done
    say "samba did not answer on 127.0.0.1:389 within 30 s"
    return 1
}

provision() {
    local cache=$state/provisioned.tar.gz
    exec 8>"$state/provision.lock"
    flock 8
    if [[ ! -f $cache ]]; then
        say "provisioning $realm (once per build tree)"
        local work=$state/provisioning
        rm -rf "$work"
        mkdir -p "$work"
        samba-tool domain provision --targetdir="$work" --realm=$realm --domain=CORP --server-role=dc \
            --dns-backend=NONE --adminpass="$admin_password" --host-name=dc1 --domain-sid=$domain_sid \
            --use-rfc2307 --option="interfaces=lo" --option="bind interfaces only=yes" >>"$log" 2>&1
        write_smb_conf "$work"
        # A cached domain must not lock its administrator out when the default 42-day maximum age passes,
        # and the tests change passwords without waiting a day.
        samba-tool user setexpiry Administrator --noexpiry -s "$work/etc/smb.conf" >>"$log" 2>&1
        samba-tool domain passwordsettings set --min-pwd-age=0 -s "$work/etc/smb.conf" >>"$log" 2>&1
        # The first start generates the server's TLS key; keep it in the cache.
        ip netns add "$netns"
        in_ns ip link set lo up
        local saved_dc=$dc
        dc=$work
        start_samba
        wait_for_ldap
        stop_samba
        dc=$saved_dc
        ip netns del "$netns"
        tar -C "$work" -czf "$cache.tmp" --exclude=./etc --exclude=./log --exclude=./run \
            --exclude=./ncalrpc --exclude=./winbindd --exclude=./ntp_signd .
        mv "$cache.tmp" "$cache"
        rm -rf "$work"
    fi
    flock -u 8
    exec 8>&-
}

# The 1,000,000-byte variant of the policy document: the same policies, padded with an XML comment to the
# largest value the directory accepts, ending with the same time suffix.
make_large_document() {
    local small=$fixture_dir/policy-document.xml out=$state/large-policy-document.xml
    local tail='</PolicyList>#1764979200#'
    # Lengths in bytes, not characters: the document has non-ASCII text.
    local LC_ALL=C
    local body
    body=$(cat "$small")
    body=${body%"$tail"}
    local pad=$((large_size - ${#body} - ${#tail} - 9))
    {
        printf '%s' "$body"
        printf '<!-- '
        head -c "$pad" /dev/zero | tr '\0' 'x'
        printf ' -->'
        printf '%s' "$tail"
    } >"$out"
    local size
    size=$(stat -c %s "$out")
    if ((size != large_size)); then
        say "the large policy document has $size bytes, not $large_size"
        return 1
    fi
}

populate() {
    make_large_document || return 1
    umask 077
    printf '%s' "$admin_password" >"$state/admin-password"
    sed -e "s|@FIXTURE_DIR@|$fixture_dir|g" -e "s|@STATE_DIR@|$state|g" "$fixture_dir/fixture.ldif" \
        >"$state/fixture.ldif"
    in_ns ldapmodify -x -H ldap://127.0.0.1 -D "$admin_upn" -y "$state/admin-password" \
        -f "$state/fixture.ldif" >>"$log" 2>&1 || {
        say "populating the directory failed; see $log"
        return 1
    }
}

# The snapshot the differential tests load: exactly the objects and attributes the directory services and the
# policy engine read, exported from the populated domain with ldapsearch (STATE_DIR/export.ldif).
export_snapshot() {
    local out=$state/export.ldif domain_dn=DC=corp,DC=example,DC=test
    local search=(ldapsearch -LLL -o ldif-wrap=no -x -H ldap://127.0.0.1 -D "$admin_upn" -y "$state/admin-password")
    {
        in_ns "${search[@]}" -b "" -s base defaultNamingContext configurationNamingContext dnsHostName \
            namingContexts
        in_ns "${search[@]}" -b "CN=Configuration,$domain_dn" \
            "(|(objectClass=configuration)(objectClass=crossRefContainer)(objectClass=crossRef))" \
            objectClass nCName dnsRoot nETBIOSName
        in_ns "${search[@]}" -b "$domain_dn" "(objectClass=*)" objectClass objectCategory objectSid groupType \
            sAMAccountName userPrincipalName givenName sn displayName member pwdLastSet msDS-ByteArray
    } >"$out.tmp" 2>>"$log" || {
        say "exporting the snapshot failed; see $log"
        return 1
    }
    mv "$out.tmp" "$out"
}

# A Kerberos ticket for alice, for the tests of SASL GSSAPI binds: KRB5_CONFIG=STATE_DIR/krb5.conf,
# KRB5CCNAME=FILE:STATE_DIR/alice.ccache.
get_ticket() {
    cat >"$state/krb5.conf" <<CONF
[libdefaults]
	default_realm = $realm
	dns_lookup_realm = false
	dns_lookup_kdc = false
	rdns = false
	dns_canonicalize_hostname = false
[realms]
	$realm = {
		kdc = 127.0.0.1
	}
CONF
    rm -f "$state/alice.ccache"
    printf 'Alice-Pass-1\n' | KRB5_CONFIG=$state/krb5.conf KRB5CCNAME=FILE:$state/alice.ccache \
        in_ns kinit alice@$realm >>"$log" 2>&1 || {
        say "kinit for alice failed; see $log"
        return 1
    }
}

stop_samba() {
    local pid supervisor i
    if [[ -f $state/samba.pid ]]; then
        pid=$(cat "$state/samba.pid")
        kill -TERM "$pid" 2>/dev/null || true
    fi
    if [[ -f $state/supervisor.pid ]]; then
        supervisor=$(cat "$state/supervisor.pid")
        for ((i = 0; i < 100; i++)); do
            kill -0 "$supervisor" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$supervisor" 2>/dev/null; then
            say "samba did not stop within 5 s; killing it"
            [[ -n ${pid:-} ]] && kill -KILL "$pid" 2>/dev/null || true
            sleep 0.2
        fi
    fi
    rm -f "$state/samba.pid" "$state/supervisor.pid"
}

stop_wine() {
    if [[ -n $wine_prefix && -d $wine_prefix ]]; then
        bash "$here/wine-run.sh" --prefix="$wine_prefix" --stop-server
    fi
}

stop_all() {
    rm -f "$state/running"
    stop_wine
    stop_samba
    if ip netns list 2>/dev/null | grep -qw "^$netns"; then
        ip netns del "$netns"
    fi
    rm -rf "/etc/netns/$netns"
}

case $command in
start)
    skip_unless_possible
    : >"$log"
    stop_all
    provision
    rm -rf "$dc"
    mkdir -p "$dc"
    tar -C "$dc" -xzf "$state/provisioned.tar.gz"
    write_smb_conf "$dc"
    ip netns add "$netns"
    in_ns ip link set lo up
    # Inside the namespace the server's own name resolves to it, so TLS can check the certificate's name.
    mkdir -p "/etc/netns/$netns"
    echo "127.0.0.1 localhost dc1.corp.example.test corp.example.test" >"/etc/netns/$netns/hosts"
    start_samba
    if ! wait_for_ldap || ! populate || ! export_snapshot || ! get_ticket; then
        stop_all
        exit 1
    fi
    if [[ -n $wine_prefix ]]; then
        # A wineserver of this prefix that runs elsewhere would own the sockets; end it and start one here.
        stop_wine
        in_ns bash "$here/wine-run.sh" --prefix="$wine_prefix" --start-server
    fi
    touch "$state/running"
    say "domain controller for $realm up in namespace $netns"
    ;;
stop)
    stop_all
    ;;
run)
    [[ ${1:-} == -- ]] && shift
    (($# > 0)) || usage
    if [[ ! -f $state/running ]]; then
        say "SKIP: the Samba fixture is not running (its setup test was skipped or failed)"
        exit $skip_code
    fi
    exec ip netns exec "$netns" "$@"
    ;;
*) usage ;;
esac
