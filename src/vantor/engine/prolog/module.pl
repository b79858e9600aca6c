% The helper module vantor_eval: declarations, the message hook that
% gathers load errors, the guard against halt/0,1, message texts.
:- module(vantor_eval, []).
:- thread_local collecting/0, collected/1, guarded/0, halt_refused/0.
:- thread_local sandboxing/1, sandbox_checked/1, example_checked/2, loading_bounded/2, load_stopped/1.
:- thread_local fact_predicate/1.  % a predicate a file of facts is adding
:- thread_local load_origin/2.     % load_origin(File, Origin) while File loads
:- dynamic loaded/2.            % loaded(Role, File): theory or background
:- dynamic defined_in/2.        % defined_in(File, Name/Arity)
:- dynamic baseline/1.          % predicates of user before any evaluation
:- dynamic baseline_flag/2, baseline_ops/1, baseline_conversions/1.
:- multifile user:message_hook/3.
:- dynamic user:message_hook/3.
:- multifile user:term_expansion/2.
:- dynamic user:term_expansion/2.
:- multifile user:goal_expansion/2.
:- dynamic user:goal_expansion/2.

user:message_hook(_Term, Kind, Lines) :-
    vantor_eval:collecting,
    vantor_eval:collect(Kind, Lines).

% halt/0,1 from a theory, its background, an example or a thread any of
% them started would end the host process: always refused (halt then
% fails, or the halting thread just ends).
:- at_halt(vantor_eval:refuse_halt).
refuse_halt :-
    (   guarded
    ->  assertz(halt_refused)
    ;   true
    ),
    cancel_halt('halt/0,1 called inside the embedded Prolog engine').

guarded(Goal) :-
    retractall(halt_refused),
    setup_call_cleanup(assertz(guarded), Goal, retractall(guarded)).

refused_text("halt/0,1 was called while evaluating a theory; it is refused, since it would end the host process").

collect(error, Lines) :- !,
    lines_text(Lines, Text0),
    user_place(Text0, Text),
    assertz(collected(Text)).
collect(warning, _).

% An error the engine reports at "File:Line:Column:" of a file written from
% the theory and the user's background names the line as the user knows it
% (the working file is private and gone when they read the message).
user_place(Text0, Text) :-
    load_origin(File, Origin),
    Origin = origin(_, _),
    atom_string(File, Prefix),
    string_concat(Prefix, Rest, Text0),
    split_string(Rest, ":", "", ["", LineText, Column | Message]),
    number_string(Line, LineText),
    number_string(_, Column),
    Message \== [], !,
    atomic_list_concat(Message, ':', Said),
    refusal_place(Origin, Line, Place),
    format(string(Text), "~s:~w", [Place, Said]).
user_place(Text, Text).

lines_text(Lines, Text) :-
    with_output_to(string(Text0), print_message_lines(current_output, '', Lines)),
    split_string(Text0, "", "\n ", [Text]).

error_text(E, Text) :-
    (   catch('$messages':translate_message(E, Lines, []), _, fail)
    ->  lines_text(Lines, Text)
    ;   term_string(E, Text)
    ).

