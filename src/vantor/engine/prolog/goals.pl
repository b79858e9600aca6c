% --- Rule texts: each must read as exactly one clause.
rule_problem(Text, Problem) :-
    catch(read_all_terms(Text, Terms), E, true),
    (   nonvar(E)
    ->  error_text(E, M),
        format(string(Problem), "it does not read as a clause (~s)", [M])
    ;   Terms == []
    ->  Problem = "it holds no clause"
    ;   Terms = [T]
    ->  (   var(T)
        ->  Problem = "it is a variable, not a clause"
        ;   directive(T)
        ->  Problem = "it is a directive, not a clause"
        ;   clause_head(T, Head), \+ callable(Head)
        ->  Problem = "its head is not a predicate"
        )
    ;   length(Terms, N),
        format(string(Problem), "it holds ~d clauses; a rule text must be exactly one", [N])
    ).

read_all_terms(Text, Terms) :-
    setup_call_cleanup(open_string(Text, S), read_terms(S, Terms), close(S)).

read_terms(S, Terms) :-
    read_term(S, T, [module(user)]),
    (   T == end_of_file
    ->  Terms = []
    ;   Terms = [T|Rest],
        read_terms(S, Rest)
    ).

% --- Proving examples.

% An example is a fact to be proved from the background and the theory,
% never a command: a call of a built-in or library predicate is refused.
example_problem(Goal, _) :- var(Goal), !, fail.   % the engine reports it
example_problem(Goal, _) :- \+ callable(Goal), !, fail.
example_problem(Goal, Problem) :- form_problem(Goal, Problem), !.
example_problem(Goal, "it is a hook of the engine, not a fact") :-
    functor(Goal, Name, Arity),
    engine_hook(Name, Arity), !.
example_problem(Goal, _) :-
    functor(Goal, Name, Arity),
    example_checked(Name, Arity), !,
    fail.
example_problem(Goal, _) :-
    \+ predicate_property(user:Goal, imported_from(_)), !,
    functor(Goal, Name, Arity),
    assertz(example_checked(Name, Arity)),
    fail.
example_problem(Goal, Problem) :-
    predicate_property(user:Goal, imported_from(_)),
    functor(Goal, Name, Arity),
    format(string(Problem), "~q is a built-in or library predicate, not one of the background or the theory",
           [Name/Arity]).

form_problem(_:_, "it names a module; examples are plain atoms").
form_problem((_ :- _), "it is a clause, not a fact").
form_problem((:- _), "it is a directive, not a fact").
form_problem((?- _), "it is a directive, not a fact").

% The name and arity of an example text, as shape(Name, Arity), or
% bad(Problem) when it is not exactly one fact.
example_shape(Text, Plain, Result) :-
    catch(one_term(Text, Plain, T), E, true),
    (   nonvar(E)
    ->  (   E = vantor_refused(M)
        ->  true
        ;   error_text(E, M0),
            format(string(M), "it does not read as a term (~s)", [M0])
        ),
        Result = bad(M)
    ;   \+ callable(T)
    ->  Result = bad("it is not a fact")
    ;   form_problem(T, M)
    ->  Result = bad(M)
    ;   functor(T, Name, Arity),
        Result = shape(Name, Arity)
    ).

% Texts from data become terms only here: each must read as exactly one
% term. Plain is true when the host found no second clause end, comment or
% character code in the text, so the quick reader reads all of it.
one_term(Text, true, Term) :- !,
    term_string(Term, Text).
one_term(Text, _, Term) :-
    setup_call_cleanup(open_string(Text, S),
                       ( read_term(S, Term, [module(user)]), rest_of(S, Rest) ),
                       close(S)),
    (   Term == end_of_file
    ->  throw(vantor_refused("it holds no term"))
    ;   Rest == []
    ->  true
    ;   throw(vantor_refused("text follows its first term; it must be exactly one"))
    ).

% [] when nothing but layout and comments follows, else [more].
rest_of(S, Rest) :-
    catch(read_term(S, Next, [module(user)]), _, Next = unreadable),
    (   Next == end_of_file
    ->  Rest = []
    ;   Rest = [more]
    ).

prove(Text, Plain, Limit, Seconds, Sandbox, Result) :-
    catch(guarded(prove_(Text, Plain, Limit, Seconds, Sandbox, Result0)), E,
          (   E = vantor_refused(M)
          ->  Result0 = refused(M)
          ;   error_text(E, M), Result0 = error(M)
          )),
    (   halt_refused
    ->  refused_text(H), Result = error(H)
    ;   Result = Result0
    ).

prove_(Text, Plain, Limit, Seconds, Sandbox, Result) :-
    one_term(Text, Plain, Goal),
    (   example_problem(Goal, Problem)
    ->  Result = refused(Problem)
    ;   Sandbox == true,
        sandbox_problem(Goal, Problem)
    ->  Result = unsafe(Problem)
    ;   bounded(call_with_inference_limit(user:Goal, Limit, R), Seconds, Outcome),
        outcome_result(Outcome, R, Result)
    ).

outcome_result(true, R, Result) :-
    (   R == inference_limit_exceeded
    ->  Result = limit
    ;   Result = true
    ).
outcome_result(false, _, false).
outcome_result(stopped(Why), _, Why).
outcome_result(error(E), _, Result) :-
    (   E = error(resource_error(table_space), _)
    ->  Result = table_space
    ;   throw(E)
    ).

% --- Batches: one goal name over many argument tuples, read once.

% Texts are argument lists with their parentheses ("(a,b)", "" for none).
% Result is ok, or bad(Index, Problem) for the first (0-based) that does not
% read as exactly one argument list.
set_args(Texts, Plains, Result) :-
    catch(read_args(Texts, Plains, 0, Lists), vantor_bad(I, M), true),
    (   var(I)
    ->  T =.. [args|Lists],
        nb_setval(vantor_goal_args, T),
        Result = ok
    ;   Result = bad(I, M)
    ).

read_args([], [], _, []).
read_args([Text|Texts], [Plain|Plains], I, [Args|Lists]) :-
    string_concat("x", Text, S),
    catch(( one_term(S, Plain, T), T =.. [x|Args] ), E, bad_args(I, E)), !,
    I1 is I + 1,
    read_args(Texts, Plains, I1, Lists).
read_args(_, _, I, _) :-
    throw(vantor_bad(I, "it is not an argument list")).

bad_args(I, vantor_refused(M)) :- !, throw(vantor_bad(I, M)).
bad_args(I, E) :-
    error_text(E, M0),
    format(string(M), "it does not read (~s)", [M0]),
    throw(vantor_bad(I, M)).

% Facts given as texts (say the training examples standing in for the
% target while recursive rules are proved), each read as exactly one fact of
% Name/Arity and written back as a clause: no text of theirs reaches a
% program otherwise. Result is ok(Program) or bad(Index, Problem).
facts_program(Texts, Plains, Name, Arity, Result) :-
    catch(fact_lines(Texts, Plains, Name, Arity, 0, Lines), vantor_bad(I, M), true),
    (   var(I)
    ->  atomics_to_string(Lines, Program),
        Result = ok(Program)
    ;   Result = bad(I, M)
    ).

fact_lines([], [], _, _, _, []).
fact_lines([Text|Texts], [Plain|Plains], Name, Arity, I, [Line|Lines]) :-
    catch(one_term(Text, Plain, T), E, bad_args(I, E)),
    (   callable(T), functor(T, Name, Arity)
    ->  format(string(Line), "~k.~n", [T])
    ;   format(string(M), "it is not a fact of ~q", [Name/Arity]),
        throw(vantor_bad(I, M))
    ),
    I1 is I + 1,
    fact_lines(Texts, Plains, Name, Arity, I1, Lines).

% Outcomes of a batch: 1 proved, 0 not proved, 2 out of inferences, 3 past
% the time bound, 4 out of table space. Result is the list, or unsafe(Why)
% when the sandbox refuses the goal, interrupt, or error(Message).
prove_each(Name, Limit, Seconds, Sandbox, Result) :-
    nb_getval(vantor_goal_args, T),
    functor(T, _, N),
    numlist(1, N, Is),
    prove_batch(Name, Is, T, Limit, Seconds, Sandbox, Result).

prove_some(Name, Is, Limit, Seconds, Sandbox, Result) :-
    nb_getval(vantor_goal_args, T),
    prove_batch(Name, Is, T, Limit, Seconds, Sandbox, Result).

prove_batch(_, [], _, _, _, _, []) :- !.
prove_batch(Name, [I|Is], T, Limit, Seconds, Sandbox, Result) :-
    batch_goal(T, Name, I, Goal),
    (   Sandbox == true,
        sandbox_problem(Goal, Problem)
    ->  Result = unsafe(Problem)
    ;   catch(guarded(armed_batch(T, Name, [I|Is], Limit, Seconds, Rs)), E, true),
        (   halt_refused
        ->  refused_text(H), Result = error(H)
        ;   E == vantor_interrupted
        ->  Result = interrupt
        ;   nonvar(E)
        ->  error_text(E, M), Result = error(M)
        ;   Result = Rs
        )
    ).

% The watchdog is armed once for the batch and given each goal's time as
% the goal starts: arming per goal would cost as much as a small goal.
armed_batch(T, Name, Is, Limit, Seconds, Codes) :-
    thread_self(Me),
    vantor_arm(Me, Seconds),
    call_cleanup(maplist(batch_outcome(T, Name, Limit), Is, Codes),
                 ( vantor_disarm(Fired), ( Fired == true -> absorb_stop(_) ; true ) )).

% One goal of a batch, kept lean (a goal that finds one fact costs about
% as much as this bookkeeping).
batch_outcome(T, Name, Limit, I, Code) :-
    vantor_restart(Fired),
    (   Fired == true               % sent as the previous goal ended
    ->  absorb_stop(Why),
        (   Why == interrupt
        ->  throw(vantor_interrupted)
        ;   true
        )
    ;   true
    ),
    batch_goal(T, Name, I, Goal),
    catch(limited_code(Goal, Limit, Code), E, stopped_code(E, Code)).

% A clause of its own: catch/3 of an if-then-else would compile it afresh
% on every call.
limited_code(Goal, Limit, Code) :-
    (   call_with_inference_limit(user:Goal, Limit, R)
    ->  (   R == inference_limit_exceeded
        ->  Code = 2
        ;   Code = 1
        )
    ;   Code = 0
    ).

stopped_code(vantor_stop(time), 3) :- !.
stopped_code(vantor_stop(interrupt), _) :- !, throw(vantor_interrupted).
stopped_code(error(resource_error(table_space), _), 4) :- !.
stopped_code(E, _) :- throw(E).

batch_goal(T, Name, I, Goal) :-
    arg(I, T, Args),
    Goal =.. [Name|Args].

