% --- Loading a source file for a role.

% Loading runs a file's directives with the engine's signals held back, so
% no stop could reach them: each directive that is a goal (not a
% declaration the reader or compiler needs in place) runs in a thread of
% its own under the time bound while the load waits for it. Its failure or
% error is reported in the load as before; a stop ends the load.
user:term_expansion(Term, Out) :-
    vantor_eval:loading_bounded(File, Seconds),
    prolog_load_context(source, File),
    vantor_eval:expand(Term, Seconds, Out).

expand(Term, _, []) :-
    sandboxing(Origin),
    refusal(Term, Why), !,
    refuse(Term, Why, Origin).
expand((:- G), Seconds, Out) :-
    \+ in_place(G), !,
    stop_or_run(G, Seconds, Out).

stop_or_run(_, _, []) :- load_stopped(_), !.
stop_or_run(initialization(G), Seconds, (:- initialization(Run))) :- !,
    initialization_run(G, Seconds, Run).
stop_or_run(initialization(G, When), Seconds, (:- initialization(Run, When))) :- !,
    initialization_run(G, Seconds, Run).
stop_or_run(G, Seconds, (:- vantor_eval:run_directive(G, Seconds))).

% An initialization goal runs when the file has loaded: under the sandbox
% it is checked then, against the clauses as loaded (checked when read, a
% goal could reach clauses that come later in the file).
initialization_run(G, Seconds, vantor_eval:run_initialization(G, Seconds, Check)) :-
    (   sandboxing(Origin)
    ->  source_location(_, Line),
        refusal_place(Origin, Line, Place),
        Check = check(Place)
    ;   Check = none
    ).

run_initialization(G, _, check(Place)) :-
    goal_refusal(G, Why), !,
    report_refusal((:- initialization(G)), Why, Place),
    fail.
run_initialization(G, Seconds, _) :-
    run_directive(G, Seconds).

% The condition of :- if(G) and :- elif(G) is run by the loader itself,
% before any term expansion, after expanding it as a goal: that expansion
% hands it to condition/2, which treats it as any directive (checked by the
% sandbox, run under the time bound).
user:goal_expansion(G, vantor_eval:condition(G, Seconds)) :-
    vantor_eval:loading_bounded(File, Seconds),
    prolog_load_context(source, File),
    vantor_eval:condition_being_read(G).

condition_being_read(G) :-
    G \= condition(_, _),
    (   nb_current('$term', Term)
    ->  Term == []                      % between terms, not inside a clause
    ;   true
    ),
    prolog_current_frame(Frame),
    called_from_eval_if(Frame, 12).

% The loader's '$expand':'$eval_if'/1 is among the nearest callers.
called_from_eval_if(Frame, Depth) :-
    Depth > 0,
    prolog_frame_attribute(Frame, parent, Parent),
    (   prolog_frame_attribute(Parent, predicate_indicator, '$expand':'$eval_if'/1)
    ->  true
    ;   Below is Depth - 1,
        called_from_eval_if(Parent, Below)
    ).

condition(G, Seconds) :-
    (   sandboxing(Origin),
        goal_refusal(G, Why)
    ->  refuse((:- if(G)), Why, Origin),
        fail
    ;   run_directive(G, Seconds)
    ).

in_place(G) :- var(G), !.
in_place(G) :-
    callable(G),
    functor(G, Name, _),
    memberchk(Name, [dynamic, discontiguous, multifile, table, thread_local, op, set_prolog_flag,
                     style_check, module, use_module, ensure_loaded, include, encoding, meta_predicate,
                     public, license, expects_dialect, vantor_eval:run_directive]).

run_directive(_, _) :- load_stopped(_), !.
run_directive(G, Seconds) :-
    thread_self(Loader),
    thread_create(directive_worker(G, Seconds, Loader), Id, []),
    thread_get_message(Loader, vantor_directive(Id, Outcome, Halted)),
    thread_join(Id, _),
    (   Halted == true
    ->  assertz(halt_refused)
    ;   true
    ),
    (   Outcome = stopped(Why)
    ->  assertz(load_stopped(Why))
    ;   Outcome = error(E)
    ->  throw(E)
    ;   Outcome == true
    ).

directive_worker(G, Seconds, Loader) :-
    thread_self(Me),
    guarded(bounded(user:G, Seconds, Outcome)),
    (   halt_refused
    ->  Halted = true
    ;   Halted = false
    ),
    thread_send_message(Loader, vantor_directive(Me, Outcome, Halted)).

% Facts of one predicate spread over a file are the rule in backgrounds
% written from tables; the warning the engine composes for each of them (and
% the hook then drops) would double the time of a large load.
load_quietly(File) :-
    setup_call_cleanup(style_check(-discontiguous),
                       load_files(user:File, [if(true)]),
                       style_check(+discontiguous)).

% A file that may hold facts alone (Quick: its text has no ":-", "?-" or
% "-->") is tried as plain facts: added clause by clause, then compiled to
% static predicates. That gives the clauses consulting it gives, in a
% fraction of the time (the compiler keeps a source record of every clause
% and checks each against earlier definitions), which counts for
% backgrounds of hundreds of thousands of facts. Any other file, or one of
% facts for a predicate that something already defines (the engine, a
% library, an earlier file, a hook), is consulted, which loads or reports
% it as ever.
load_text(File, true, facts) :-
    facts_loaded(File), !.
load_text(File, _, source) :-
    load_quietly(File).

facts_loaded(File) :-
    retractall(fact_predicate(_)),
    catch(setup_call_cleanup(open(File, read, S), read_facts(S), close(S)), E,
          ( drop_facts, ( E = error(_, _) -> true ; throw(E) ) )),
    var(E), !,                          % else a syntax or permission error: consult
    findall(user:PI, fact_predicate(PI), PIs),
    compile_predicates(PIs),
    forall(retract(fact_predicate(PI)), assertz(defined_in(File, PI))).
facts_loaded(_) :-
    drop_facts,
    fail.

drop_facts :-
    forall(retract(fact_predicate(PI)), abolish(user:PI)).

read_facts(S) :-
    repeat,
    read_term(S, T, [module(user), syntax_errors(error)]),
    (   T == end_of_file
    ->  !
    ;   plain_fact(T)
    ->  assertz(user:T),
        fail
    ;   !,
        fail
    ).

plain_fact(T) :-
    callable(T),
    \+ clause_form(T),
    functor(T, Name, Arity),
    (   fact_predicate(Name/Arity)
    ->  true
    ;   \+ engine_hook(Name, Arity),
        functor(Head, Name, Arity),
        \+ predicate_property(system:Head, defined),
        \+ current_predicate(user:Name/Arity),
        assertz(fact_predicate(Name/Arity))
    ).

clause_form((_ :- _)).
clause_form((:- _)).
clause_form((?- _)).
clause_form((_ --> _)).
clause_form(_:_).

% Loads File into module user as the source of Role, replacing the file
% that held that role before. Unloading first, even when the file name is
% the same, makes the load fresh: reloading over a tabled predicate leaves
% the old table wrapper in a state where the new clauses run untabled.
% Origin is origin(Name, Skip) when the file's text after its first Skip
% lines is the user's file Name (named in sandbox refusals), or none.
load(Role, File, Origin, Seconds, Sandbox, Quick, Result) :-
    unload(Role),
    retractall(collected(_)),
    retractall(load_stopped(_)),
    setup_call_cleanup(
        ( assertz(collecting), assertz(loading_bounded(File, Seconds)), assertz(load_origin(File, Origin)),
          sandbox_on(Sandbox, Origin) ),
        catch(guarded(load_text(File, Quick, How)), E, print_message_text(E)),
        ( retractall(collecting), retractall(sandboxing(_)), retractall(loading_bounded(_, _)),
          retractall(load_origin(_, _)) )),
    (   retract(load_stopped(Why))
    ->  Outcome = stopped(Why)
    ;   Outcome = done
    ),
    assertz(loaded(Role, File)),
    (   How == facts
    ->  true                            % recorded as they were added
    ;   record_definitions(File)
    ),
    (   Sandbox == true
    ->  refuse_defined_hooks(File, Origin)
    ;   true
    ),
    findall(T, retract(collected(T)), Errors0),
    (   halt_refused
    ->  refused_text(H), append(Errors0, [H], Errors)
    ;   Errors = Errors0
    ),
    (   Outcome = stopped(Why)
    ->  Result = Why
    ;   Result = Errors
    ).

print_message_text(E) :-
    error_text(E, Text),
    assertz(collected(Text)).

% unload_file/1 alone leaves a predicate that has been called answering
% with its old clauses; abolishing what the file defined removes them. A
% predicate belongs to one loaded file only (a theory that shares one with
% the background is loaded together with it), so nothing else is lost.
unload(Role) :-
    forall(retract(loaded(Role, File)),
           ( catch(unload_file(File), _, true),
             forall(retract(defined_in(File, PI)), abolish_defined(PI)) )).

% Hooks stay (unload_file/1 took the file's clauses of them): abolishing
% exception/3 leaves an undefined procedure that the engine calls for every
% undefined predicate.
abolish_defined(Name/Arity) :-
    (   engine_hook(Name, Arity)
    ->  true
    ;   catch(abolish(user:Name/Arity), _, true)
    ).

% The predicates File gives clauses, read from its text: the engine's own
% record of a predicate's file stays with the first file that defined it.
record_definitions(File) :-
    setup_call_cleanup(open(File, read, S), catch(record_heads(S, File), _, true), close(S)).

record_heads(S, File) :-
    repeat,
    read_term(S, T, [syntax_errors(quiet)]),
    (   T == end_of_file
    ->  !
    ;   clause_head(T, Head),
        callable(Head), Head \= _:_,
        functor(Head, Name, Arity),
        \+ defined_in(File, Name/Arity),
        assertz(defined_in(File, Name/Arity)),
        fail
    ).

clause_head((:- _), _) :- !, fail.
clause_head((?- _), _) :- !, fail.
clause_head((Head :- _), Head) :- !.
clause_head(Head, Head).


% --- Checks that let a caller load a background once and keep it.

% A source runs nothing while it loads: no directive (which could print,
% change operators or flags, or declare a predicate dynamic or tabled).
% Unreadable text counts as a directive: the caller then takes the path
% that reproduces the engine's own error.
free_of_directives(File) :-
    setup_call_cleanup(open(File, read, S),
                       \+ catch(next_directive(S), _, true),
                       close(S)).

next_directive(S) :-
    repeat,
    read_term(S, T, []),
    (   T == end_of_file
    ->  !, fail
    ;   directive(T)
    ->  !
    ;   fail
    ).

directive((:- _)).
directive((?- _)).

% The loaded background defines only static predicates of module user that
% no hook reads (term_expansion/2 is multifile, for one): loading a theory
% next to it then means what loading both as one file means.
plain_background :-
    loaded(background, File),
    \+ ( defined_in(File, Name/Arity),
         functor(Head, Name, Arity),
         (   engine_hook(Name, Arity)
         ;   predicate_property(user:Head, dynamic)
         ;   predicate_property(user:Head, multifile)
         ;   predicate_property(user:Head, tabled)
         ;   predicate_property(user:Head, imported_from(_))
         )
       ).

% The theory file can load on its own next to the loaded background: its
% only directives are the header's style checks and tables of its own
% predicates, and it defines no predicate the background defines.
separable_theory(File) :-
    setup_call_cleanup(open(File, read, S),
                       \+ catch(next_clash(S), _, true),
                       close(S)).

next_clash(S) :-
    repeat,
    read_term(S, T, []),
    (   T == end_of_file
    ->  !, fail
    ;   clash(T)
    ->  !
    ;   fail
    ).

clash((:- D)) :- !, \+ header_directive(D).
clash((?- _)) :- !.
clash((Head :- _)) :- !, background_defines(Head).
clash((_ --> _)) :- !.
clash(Head) :- background_defines(Head).

header_directive(style_check(_)).
header_directive(table(Name/Arity)) :-
    functor(Generic, Name, Arity),
    \+ background_defines(Generic).

background_defines(Head) :- \+ callable(Head), !.
background_defines(_:_) :- !.
background_defines(Head) :-
    loaded(background, File),
    functor(Head, Name, Arity),
    defined_in(File, Name/Arity).

