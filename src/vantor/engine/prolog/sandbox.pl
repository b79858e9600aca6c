% --- The sandbox: while a source loads with it, every directive must be
% a declaration of the file's own predicates or a goal library(sandbox)
% accepts, and no clause may go into another module or extend a hook.
% Refused terms are dropped and reported as load errors naming their line.
% Loads library(sandbox) and marks the load as checked.
sandbox_on(true, Origin) :- !,
    use_module(library(sandbox), []),
    assertz(sandboxing(Origin)).
sandbox_on(_, _).

refusal((:- D), Why) :- !, directive_refusal(D, Why).
refusal((?- D), Why) :- !, directive_refusal(D, Why).
refusal((Head :- _), Why) :- !, head_refusal(Head, Why).
refusal((Head --> _), Why) :- !, nonvar(Head), head_refusal(Head, Why).
refusal(Head, Why) :- head_refusal(Head, Why).

head_refusal(Head, "it is not a clause") :- \+ callable(Head), !.
head_refusal(_:_, "it adds a clause to another module") :- !.
% The hooks are tested by name first: asking for the properties of an
% undefined hook (exception/3) would start the autoloader, which calls it.
head_refusal(Head, "it adds a clause to a hook or system predicate") :-
    (   functor(Head, Name, Arity), engine_hook(Name, Arity)
    ;   predicate_property(system:Head, defined)
    ;   predicate_property(user:Head, multifile)
    ), !.

% Hooks the engine calls by name in module user, whether or not a library
% has declared them yet (an undeclared one has no properties to test).
engine_hook(term_expansion, 2).
engine_hook(term_expansion, 4).
engine_hook(goal_expansion, 2).
engine_hook(goal_expansion, 4).
engine_hook(message_hook, 3).
engine_hook(portray, 1).
engine_hook(prolog_load_file, 2).
engine_hook(exception, 3).
engine_hook(file_search_path, 2).
engine_hook(library_directory, 1).
engine_hook(prolog_file_type, 2).
engine_hook(resource, 3).
engine_hook(expand_query, 4).
engine_hook(expand_answer, 2).
engine_hook(message_property, 2).
engine_hook(prolog_exception_hook, 4).
engine_hook(prolog_exception_hook, 5).
engine_hook(prolog_trace_interception, 4).

directive_refusal(D, "it is not a goal") :- \+ callable(D), !.
directive_refusal(D, _) :- declaration(D), !, fail.
directive_refusal(initialization(G), Why) :- !, goal_refusal(G, Why).
directive_refusal(initialization(G, _), Why) :- !, goal_refusal(G, Why).
directive_refusal(D, Why) :- goal_refusal(D, Why).

goal_refusal(G, Why) :-
    catch(( sandbox:safe_goal(user:G) -> fail ; Why = "it is not safe" ), E,
          ( error_text(E, Why) )).

declaration(style_check(_)).
declaration(D) :-
    D =.. [Kind, Indicators],
    memberchk(Kind, [dynamic, discontiguous, table]),
    own_indicators(Indicators).

own_indicators(Indicators) :- var(Indicators), !, fail.
own_indicators((A, B)) :- !, own_indicators(A), own_indicators(B).
own_indicators([]) :- !.
own_indicators([H|T]) :- !, own_indicators(H), own_indicators(T).
own_indicators(Name/Arity) :- atom(Name), integer(Arity),
    functor(Head, Name, Arity),
    \+ head_refusal(Head, _).

refuse(Term, Why, Origin) :-
    source_location(_, Line),
    refusal_place(Origin, Line, Place),
    report_refusal(Term, Why, Place).

% Where a line of the loaded file comes from, as the user knows it: a line
% of their background, or of the theory written ahead of it.
refusal_place(origin(Name, Skip), Line, Place) :- !,
    (   Line > Skip
    ->  UserLine is Line - Skip,
        format(string(Place), "~w:~d", [Name, UserLine])
    ;   format(string(Place), "the theory (line ~d of its file)", [Line])
    ).
refusal_place(_, Line, Place) :-
    prolog_load_context(source, Name),
    format(string(Place), "~w:~d", [Name, Line]).

report_refusal(Term, Why, Place) :-
    with_output_to(string(Shown), print(Term)),
    format(string(Text), "~s: the sandbox refuses ~s: ~s", [Place, Shown, Why]),
    assertz(collected(Text)).

% Clauses for hooks can slip past term expansion (the engine reads some of
% them itself); under the sandbox a file that defined one is refused, naming
% the line of its first clause.
refuse_defined_hooks(File, Origin) :-
    forall(( defined_in(File, PI), PI = N/A, functor(Head, N, A),
             once(( engine_hook(N, A) ; predicate_property(user:Head, multifile) )) ),
           ( hook_place(File, Origin, Head, Place),
             format(string(Text), "~s: the sandbox refuses clauses for the hook ~q", [Place, PI]),
             assertz(collected(Text)) )).

hook_place(File, Origin, Head, Place) :-
    (   first_clause_line(File, Head, Line)
    ->  true
    ;   Line = 0
    ),
    (   Origin = origin(_, _)
    ->  refusal_place(Origin, Line, Place)
    ;   format(string(Place), "~w:~d", [File, Line])
    ).

% The line of the first clause for Head in File, read from its text: a
% hook's clauses may not stay in the engine's database, and asking the
% engine about an undefined hook would start the autoloader, which calls it.
first_clause_line(File, Head, Line) :-
    functor(Head, N, A),
    setup_call_cleanup(open(File, read, S),
                       catch(clause_line(S, N, A, Line), _, fail),
                       close(S)).

clause_line(S, N, A, Line) :-
    repeat,
    read_term(S, T, [term_position(P), syntax_errors(quiet)]),
    (   T == end_of_file
    ->  !, fail
    ;   clause_head(T, H), callable(H), functor(H, N, A)
    ->  !, stream_position_data(line_count, P, Line)
    ;   fail
    ).

% Under the sandbox every clause an example can reach must be safe; checked
% once per predicate and theory.
sandbox_problem(Goal, Problem) :-
    functor(Goal, Name, Arity),
    \+ sandbox_checked(Name/Arity),
    functor(Generic, Name, Arity),
    catch(( sandbox:safe_goal(user:Generic) -> fail ; Problem = "it is not safe" ), E,
          error_text(E, Problem)), !.
sandbox_problem(Goal, _) :-
    functor(Goal, Name, Arity),
    assertz(sandbox_checked(Name/Arity)),
    fail.

% Checks hold for one theory (and its background) only.
forget_sandbox_checks :-
    retractall(sandbox_checked(_)),
    retractall(example_checked(_, _)).

