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
example_problem(_:_, "it names a module; examples are plain atoms") :- !.
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

prove(Text, Limit, Seconds, Sandbox, Result) :-
    catch(guarded(prove_(Text, Limit, Seconds, Sandbox, Result0)), E,
          ( error_text(E, M), Result0 = error(M) )),
    (   halt_refused
    ->  refused_text(H), Result = error(H)
    ;   Result = Result0
    ).

prove_(Text, Limit, Seconds, Sandbox, Result) :-
    term_string(Goal, Text),
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
