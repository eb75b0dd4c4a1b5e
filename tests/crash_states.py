#!/usr/bin/env python3
# What a power loss can leave of each way of writing the file. One run of each way, recorded by
# strace, is turned into operations on files and the folder; every state a crash could leave is
# built from them under each persistence model and held to the promise of its way:
#   free name, replace: the name absent, whole old or whole new; no debris but the hidden name;
#   in place: pieces of the new text over the old (past the old end, new text or zeros), never
#     the old cut short; and once the run is over, in every way, only the whole new picture.
# Models: ordered (ext4 data=ordered: names and sizes land in the order issued, a sync lands all
# those before it, data in any order) and weak (any subset of the writes not synced, names in
# order, a sync holds only its own file's data and size); on a btrfs run (fstatfs made to say so)
# a sync of a file that has no name holds nothing. One folder; a write lands whole or not at all.
import itertools, os, re, subprocess, sys, tempfile

EXE, BTRFS_PRELOAD = sys.argv[1:3]
NAME, HIDDEN, DIR_OPS = 'f.xbm', re.compile(r'\.f\.xbm\.\w{8}$'), ('link', 'rename')
CALLS = 'openat,write,ftruncate,fsync,fdatasync,linkat,renameat,renameat2,fallocate'
RUNS = [('free name', None, ''), ('free name', None, 'no /proc'), ('free name', None, 'btrfs'),
        ('replace', 1000, ''), ('replace', 1000, 'no /proc'), ('replace', 1000, 'btrfs'),
        ('in place', 1000, ''), ('in place', 150072, ''), ('in place', 300000, '')]

def operations(log):
    """The run's calls on its files and folder: (kind, file, ...), the old file 0, new ones 1..."""
    fds, ops, files = {}, [], itertools.count(1)
    for call, a, r in re.findall(r'^\d+ +(\w+)\((.*)\) += (\d+)', open(log).read(), re.M):
        a = [x.strip('"') for x in a.split(', ')]
        f = fds.get(a[0])
        if call == 'openat' and 'O_PATH' not in a[2] and a[1][0] != '/':  # in the run's folder
            fds[r] = 'folder' if 'O_DIRECTORY' in a[2] else 0 if a[1] == NAME else next(files)
            ops += [('link', fds[r], a[1])] if 'O_CREAT' in a[2] else []
        elif call == 'write' and f is not None:  # each file written from its start, in order
            ops.append(('write', f, sum(o[3] for o in ops if o[:2] == ('write', f)), int(r)))
        elif call == 'ftruncate' or call == 'fallocate' and a[1] == '0':  # a new file's size
            ops.append(('size', f, int(a[-1])))
        elif call == 'linkat':
            ops.append(('link', fds[a[1].rsplit('/', 1)[1]], a[3]))
        elif call in ('renameat', 'renameat2'):
            ops.append(('rename', a[1], a[3]))
        elif call in ('fsync', 'fdatasync') and f is not None:
            ops.append(('sync', f))
    return ops

def build(ops, kept, names, old, new):
    """The folder's names and what each shows, once the operations `kept` are on the disk."""
    names, data = dict(names), {0: bytearray(old)}
    for kind, x, *y in (ops[i] for i in sorted(kept)):
        if kind == 'size':
            data[x] = data.get(x, bytearray())[:y[0]].ljust(y[0], b'\0')
        elif kind == 'write':
            data[x] = data.get(x, bytearray()).ljust(sum(y), b'\0')
            data[x][y[0]:sum(y)] = new[y[0]:sum(y)]
        elif kind == 'link':
            names[y[0]] = x
        elif kind == 'rename':
            names[y[0]] = names.pop(x)
    return tuple(sorted((n, bytes(data.get(f, b''))) for n, f in names.items()))

def crash_states(ops, model, btrfs):
    """Each crash point and set of operations on the disk that the model allows there."""
    group = lambda o: 'all' if model == 'ordered' else 'folder' if o[0] in DIR_OPS else o[1]
    held, named = [set()], set()
    for j, (kind, f, *_) in enumerate(ops):
        named |= {f} if kind == 'link' else set()
        holds = kind == 'sync' and (f in named or f == 'folder' or not btrfs)
        held.append(held[-1] | {i for i, o in enumerate(ops[:j]) if holds and (
            o[1] == f and o[0] in ('write', 'size') or o[0] not in ('write', 'sync') and (
                model == 'ordered' or f == 'folder' and o[0] in DIR_OPS))})
    for k in range(len(ops) + 1):
        groups, loose = {}, [i for i in range(k) if ops[i][0] == 'write' and i not in held[k]]
        for i in (i for i in range(k) if ops[i][0] not in ('write', 'sync')):
            groups.setdefault(group(ops[i]), []).append(i)
        for chosen in itertools.product(*[[g[:n] for n in range(
                sum(i in held[k] for i in g), len(g) + 1)] for g in groups.values()]):
            for n in range(len(loose) + 1):
                for lost in itertools.combinations(loose, n):
                    yield k, held[k] | set(loose) - set(lost) | set(sum(chosen, []))

def keeps_promise(view, way, old, new, cuts):
    d = dict(view)
    if any(n not in (NAME, 'h.xbm') and not HIDDEN.match(n) for n in d):
        return False
    if way != 'in place':
        return d.get(NAME) in ((old if way == 'replace' else None), new)
    c, cuts = d[NAME], sorted(cuts | {len(d[NAME])})
    return (len(c) >= len(old) or c == new) and all(c[a:b] in (old[a:b], new[a:b], bytes(
        b - a) if a >= len(old) else None) for a, b in zip(cuts, cuts[1:]) if b <= len(c))

def check(top, i, way, length, how):
    folder, log, old = f'{top}/{i}', f'{top}/{i}.log', b'~' * (length or 0)
    names = {n: 0 for n in (NAME, 'h.xbm')[:(length is not None) + (way == 'in place')]}
    os.mkdir(folder)
    if names:
        open(f'{folder}/{NAME}', 'wb').write(old)
    if way == 'in place':  # a second name: a hard-linked file cannot be replaced
        os.link(f'{folder}/{NAME}', f'{folder}/h.xbm')
    cmd = ['strace', '-f', '-qq', '-s0', '-e', 'trace=' + CALLS, '-o', log, '-E', 'LD_PRELOAD=' +
           (BTRFS_PRELOAD if how == 'btrfs' else ''), EXE, NAME, 'fern', '1000', '200']
    subprocess.run(['unshare', '-rm', 'sh', '-c', 'mount --bind "$0" /proc && exec "$@"', top] *
                   (how == 'no /proc') + cmd, cwd=folder, check=True)
    ops, new = operations(log), open(f'{folder}/{NAME}', 'rb').read()
    final = tuple((n, open(f'{folder}/{n}', 'rb').read()) for n in sorted(os.listdir(folder)))
    assert build(ops, range(len(ops)), names, old, new) == final, f'misread: {ops}'
    cuts = {0, len(old), len(new)} | {sum(o[2:]) for o in ops if o[0] == 'write'}
    broken = 0
    for model in ('ordered', 'weak'):
        seen = {}
        for k, kept in crash_states(ops, model, how == 'btrfs'):
            seen.setdefault((build(ops, kept, names, old, new), k == len(ops)), (k, kept))
        bad = [(k, kept, v) for (v, over), (k, kept) in seen.items()
               if not keeps_promise(v, way, old, new, cuts) or over and v != final]
        print(f'{way} ({how or "/proc"}, old {length}) {model}: {len(seen)} states, {len(bad)} bad')
        for k, kept, v in bad[:3]:  # what the names show, and the operations that led there
            print(f'  {[(n, len(c), {old: "old", new: "new"}.get(c, "neither")) for n, c in v]}'
                  f' after {ops[:k]}, lost '
                  f'{[o for i, o in enumerate(ops[:k]) if i not in kept and o[0] != "sync"]}')
        broken += len(bad)
    return broken

def main():
    ci, probe = os.environ.get('CI'), lambda c: subprocess.run(c, shell=True, capture_output=True)
    if probe('strace -qq true').returncode and not ci:
        sys.exit(print('skipped: strace cannot run here') or 77)
    userns = ci or probe('unshare -rm true').returncode == 0
    with tempfile.TemporaryDirectory() as top:
        broken = sum(check(top, i, *run) for i, run in enumerate(RUNS)
                     if userns or run[2] != 'no /proc')
    sys.exit(1 if broken else 0 if userns else print('no /proc runs skipped: no unshare -rm') or 77)

main()
