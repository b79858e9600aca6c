"""Plain, literal versions of coverage, matching, the filters and selection,
written straight from the algorithm's description over the text layer, to
compare the library's indexed core against."""
import itertools

from vantor import Clause, Meta, argument_kind, is_linked, literal_substitution, make_literal, make_rule


def variable_name(n):
    if n == 0:
        return "A"
    out = ""
    while n:
        out += chr(ord("A") + n % 26)
        n //= 26
    return out


def rename_variables(Hypo):
    Hypo_new = []
    for subset in Hypo:
        arg = {}
        for i in subset:
            c = Clause(i)
            new_args = []
            for j in c.args():
                if argument_kind(j) == "variable":
                    keys = [k for k, v in arg.items() if v == j]
                    if keys:
                        new_args.append(keys[0])
                    else:
                        name = variable_name(len(arg))
                        arg[name] = j
                        new_args.append(name)
                else:
                    new_args.append(j)
            lit = make_literal(c.predicate, new_args)
            if lit not in Hypo_new:
                Hypo_new.append(lit)
    if len(Hypo_new) == len(Hypo[0]):
        return make_rule(Hypo_new[0], Hypo_new[1:])
    return []


def match_literals(list_1):
    final_list_1, WATCH = [], []
    for c, eachlist in enumerate(list_1):
        list_temp, watch = [], []
        for i in eachlist:
            if not list_temp:
                list_temp.append(i)
                continue
            for j in list_temp:
                s = literal_substitution(j, i)
                if s != "false" and len(s) > 0:
                    watch.extend(s)
                    break
            else:
                list_temp.append(i)
        if c == 0:
            final_list_1.append(list_temp)
        else:
            new = []
            for j in list_temp:
                args = []
                for a in Clause(j).args():
                    keys = [k for m in WATCH for k in m]
                    vals = [(k, v) for m in WATCH for k, v in m.items()]
                    hit = [k for k, v in vals if v == a]
                    if argument_kind(a) == "variable" and a not in keys and hit:
                        args.append(hit[0])
                    else:
                        args.append(a)
                new.append(make_literal(Clause(j).predicate, args))
            if new:
                final_list_1.append(new)
        for m in watch:
            if m and m not in WATCH:
                WATCH.append(m)
    return final_list_1


def normalise_rule(H):
    new_rule = []
    for i in H:
        m = Meta(i)
        head, body = m.head, m.get_body_clauses()
        args = [Clause(k).args() for k in body]
        sorted_elements = sorted(args, key=lambda a: a[0])
        sorted_body = [body[args.index(e)] for e in sorted_elements]
        temp_1 = sorted_body[0]
        ha, ta = Clause(head).args(), Clause(temp_1).args()
        if ta == ha or set(ta) == set(ha):
            new_rule.append(make_rule(head, [temp_1]))
            continue
        stop_var = ha[-1]
        new_r = [temp_1]
        dict_1 = dict.fromkeys(sorted_body[1:], "")
        start_var = ta[-1]
        count, len_dic, flag = 1, len(dict_1), 0
        while count < len_dic + 3:
            for l in list(dict_1):
                la = Clause(l).args()
                if la[0] == start_var:
                    new_r.append(l)
                    del dict_1[l]
                    start_var = la[-1]
                    if start_var == stop_var:
                        flag = 1
                    else:
                        count += 1
                else:
                    count += 1
            count += 1
        if flag == 1:
            new_rule.append(make_rule(head, new_r))
    return new_rule


def chunks(lst, k):
    base, extra = divmod(len(lst), k)
    out, start = [], 0
    for j in range(k):
        size = base + (1 if j < extra else 0)
        out.append(lst[start:start + size])
        start += size
    return out


def compute_coverage(BK, head, BT, hypo_set_dic, rule_set_dic, constant, optimize,
                     rule_noise_check, bk_of=None):
    """``bk_of(example)`` gives BK_1 (for reduce_bc the test passes the same
    draws the library makes)."""
    final_hypo = []
    for example in list(BK):
        if example in hypo_set_dic:
            final_hypo.append(hypo_set_dic[example])
            continue
        hypo_set = []
        BK_1 = bk_of(example) if bk_of else BK[example]
        for bch in BT:
            body_clauses = Meta(bch).get_body_clauses()
            len_cl = len(body_clauses)
            body_pred = [Clause(b).predicate for b in body_clauses]
            count = {}
            for p in body_pred:
                count[p] = count.get(p, 0) + 1
            list_set = []
            for b in body_clauses:
                list_1 = [l for l in BK_1 if Clause(l).predicate == Clause(b).predicate]
                if not list_1:
                    break
                list_set.append(list_1)
            if len(list_set) != len_cl:
                continue
            if len(count) < len(body_pred):
                for p, k in count.items():
                    parts = chunks(list_set[body_pred.index(p)], k)
                    occ = 0
                    for pos, q in enumerate(body_pred):
                        if q == p:
                            list_set[pos] = parts[occ]
                            occ += 1
            if any(not x for x in list_set):
                continue
            if optimize:
                list_set = match_literals(list_set)
            prod = [t for t in itertools.product(*list_set) if is_linked(head, list(t), constant)]
            for per in prod:
                key = tuple(sorted(per))
                if key in rule_set_dic:
                    HH = rule_set_dic[key]
                else:
                    HH = rename_variables([[head] + list(per)])
                    rule_set_dic[key] = HH
                if not HH:
                    continue
                kept = []
                for b in Meta(HH).get_body_clauses():
                    a = Clause(b).args()
                    if len(set(a)) == len(a) and b not in kept:
                        kept.append(b)
                if len(kept) != len_cl:
                    continue
                if rule_noise_check:
                    r = normalise_rule([HH])
                    HH = r[0] if r else []
                if HH and HH not in hypo_set:
                    hypo_set.append(HH)
        hypo_set_dic[example] = hypo_set
        final_hypo.append(hypo_set)
    return final_hypo, hypo_set_dic, rule_set_dic


def filter_by_min_pos(P, min_pos):
    order = []
    for entry in P:
        for h in entry:
            if h not in order:
                order.append(h)
    out = {}
    for h in order:
        l = [i for i, e in enumerate(P) if h in e]
        if len(l) >= min_pos:
            out[h] = l
    return out


def filter_by_max_neg(dic_p, P, max_neg):
    out = {}
    for h in dic_p:
        l = [i for i, e in enumerate(P) if h in e]
        if len(l) <= max_neg:
            out[h] = l
    return out


def select_theory(P, N, p, n):
    keys_n = list(N)
    if not keys_n:
        return []
    coverage_1 = {h: len(P[h]) / (len(P[h]) + len(N[h])) for h in keys_n}
    coverage = {h: len(P[h]) - len(N[h]) for h in keys_n}
    des_pos = sorted(range(len(keys_n)), key=lambda i: coverage[keys_n[i]])
    b = keys_n[des_pos[-1]]
    hypo, pc, nc = [b], P[b], N[b]
    acc = (len(pc) + (n - len(nc))) / (p + n)
    for i in des_pos:
        h = keys_n[i]
        if not coverage_1[h] > 0:
            continue
        if not any(x not in pc for x in P[h]):
            continue
        tp = list(set(pc) | set(P[h]))
        tn = list(set(nc) | set(N[h]))
        a = (len(tp) + (n - len(tn))) / (p + n)
        if a > acc:
            hypo.append(h)
            pc, nc, acc = tp, tn, a
    return [r.replace("&", ",") for r in hypo]
